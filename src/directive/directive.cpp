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

std::string nested_refusal_reason(const NestedRefusal& refusal, std::string_view path) {
  switch (refusal.why) {
    case NestedRefusal::Why::Cycle:
      return "Cycle detected: '" + excerpt(path) + "' is already being loaded";
    case NestedRefusal::Why::TooDeep:
      return "Files nest more than " + std::to_string(refusal.limit) + " levels deep at '" + excerpt(path) + "'";
    case NestedRefusal::Why::TooMany:
      break;
  }
  return "More than " + std::to_string(refusal.limit) + " files loaded by one call at '" + excerpt(path) + "'";
}

const Directive* find_directive(std::string_view name) noexcept {
  for (const Directive& directive : kDirectives) {
    if (directive.name == name) return &directive;
  }
  return nullptr;
}

}  // namespace vyrl
