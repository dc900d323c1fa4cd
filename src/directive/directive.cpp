#include "directive/directive.hpp"

#include <algorithm>
#include <array>

#include "statement/directive_arguments.hpp"

namespace vyrl {
namespace {

// Indexed by DirectiveKind, so that a line's kind finds its handler at once.
constexpr std::array<Directive, 5> kDirectives{{
    {directive_name(DirectiveKind::unknown), nullptr},
    {directive_name(DirectiveKind::import), execute_import},
    {directive_name(DirectiveKind::type), execute_type},
    {directive_name(DirectiveKind::schema), execute_schema},
    {directive_name(DirectiveKind::derive), execute_derive},
}};
static_assert(std::ranges::all_of(kDirectiveKinds, [](DirectiveKind kind) {
  return directive_kind(kDirectives[static_cast<std::size_t>(kind)].name) == kind;
}));

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
  const DirectiveKind kind = directive_kind(name);
  return kind == DirectiveKind::unknown ? nullptr : &kDirectives[static_cast<std::size_t>(kind)];
}

}  // namespace vyrl
