#include "directive/directive.hpp"

#include <array>

#include "statement/directive_arguments.hpp"

namespace vyrl {
namespace {

constexpr std::array<Directive, 4> kDirectives{{
    {kImportDirective, execute_import},
    {kTypeDirective, execute_type},
    {kSchemaDirective, execute_schema},
    {kDeriveDirective, execute_derive},
}};

}  // namespace

const Directive* find_directive(std::string_view name) noexcept {
  for (const Directive& directive : kDirectives) {
    if (directive.name == name) return &directive;
  }
  return nullptr;
}

}  // namespace vyrl
