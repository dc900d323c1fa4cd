#include "directive/directive.hpp"

#include <array>

namespace vyrl {
namespace {

constexpr std::array<Directive, 4> kDirectives{{
    {"import", execute_import},
    {"type", execute_type},
    {"schema", execute_schema},
    {"derive", execute_derive},
}};

}  // namespace

const Directive* find_directive(std::string_view name) noexcept {
  for (const Directive& directive : kDirectives) {
    if (directive.name == name) return &directive;
  }
  return nullptr;
}

}  // namespace vyrl
