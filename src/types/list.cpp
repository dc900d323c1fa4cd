#include "vyrl/error.hpp"
#include "types/list.hpp"

#include <utility>

#include "literal/literal.hpp"
#include "text/text.hpp"
#include "types/validation.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kListOpen = "list<";
constexpr std::string_view kItemField = "list_item";

std::string not_a_list_literal(std::string_view value) {
  return "Expected a list literal in the form [item, item, ...], got '" + excerpt(value) + "'";
}

// Nested lists carry every inner message in their own, so this one is built with
// a single allocation rather than a chain of growing temporaries. An item of an
// outer list holds the items below it: quoted whole at every level, a deep list
// would be repeated once per level.
std::string item_failed(std::string_view item, std::string_view element, std::string_view reason) {
  constexpr std::string_view kHead = "List item '";
  constexpr std::string_view kMiddle = "' failed validation for type '";
  constexpr std::string_view kTail = "': ";
  const std::string quoted_item = excerpt(item);
  const std::string quoted_element = excerpt(element);
  std::string message;
  message.reserve(kHead.size() + quoted_item.size() + kMiddle.size() + quoted_element.size() + kTail.size() +
                  reason.size());
  message.append(kHead).append(quoted_item).append(kMiddle).append(quoted_element).append(kTail).append(reason);
  return message;
}

// Failures are built out of line: nested lists recurse through validate, and
// error temporaries inlined there would enlarge the stack frame of every level.
[[gnu::cold, gnu::noinline]] Status fail_not_a_list(std::string_view value) {
  return fail(VyrlError::invalid_value(not_a_list_literal(value)));
}

[[gnu::cold, gnu::noinline]] Status fail_item(std::string_view item, std::string_view element,
                                              const VyrlError& reason) {
  VyrlError failed = VyrlError::invalid_value(item_failed(item, element, reason.message()));
  failed.keep_hints_of(reason);
  return fail(std::move(failed));
}

}  // namespace

std::optional<std::string_view> ListType::parse_inner(std::string_view name) noexcept {
  const std::string_view trimmed = trim(name);
  if (trimmed.size() <= kListOpen.size() || !trimmed.starts_with(kListOpen) || trimmed.back() != '>') {
    return std::nullopt;
  }
  const std::string_view element = trim(trimmed.substr(kListOpen.size(), trimmed.size() - kListOpen.size() - 1));
  if (element.empty()) return std::nullopt;
  return element;
}

std::optional<std::vector<std::string>> ListType::parse_items(std::string_view text) {
  return parse_list_items(text);
}

Status ListType::validate(std::string_view value, const TypeScope& scope) const {
  const auto body = wrapped_body(value, '[', ']');
  if (!body) return fail_not_a_list(value);

  // The element type is looked up once for the whole list: its meaning cannot
  // change between two items of one value.
  std::optional<FieldType> element;
  std::string label;  // only built once there is an item to check under it
  Status result;
  for_each_list_item(*body, [&](std::string_view item) {
    if (!element) {
      element.emplace(resolve_field_type(scope, element_));
      label = std::string(kListOpen) + element_ + ">";
    }
    result = validate_resolved_field(scope, *element, element_, item, label, kItemField);
    if (result) return true;
    result = fail_item(item, element_, result.error());
    return false;
  });
  return result;
}

}  // namespace vyrl
