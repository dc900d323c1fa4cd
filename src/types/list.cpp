#include "types/list.hpp"

#include <cstddef>
#include <utility>

#include "vyrl/document.hpp"
#include "vyrl/text.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kListOpen = "list<";
constexpr std::string_view kItemField = "list_item";

std::string not_a_list_literal(std::string_view value) {
  return "Expected a list literal in the form [item, item, ...], got '" + std::string(value) + "'";
}

// Nested lists carry every inner message in their own, so this one is built with
// a single allocation rather than a chain of growing temporaries.
std::string item_failed(std::string_view item, std::string_view element, std::string_view reason) {
  constexpr std::string_view kHead = "List item '";
  constexpr std::string_view kMiddle = "' failed validation for type '";
  constexpr std::string_view kTail = "': ";
  std::string message;
  message.reserve(kHead.size() + item.size() + kMiddle.size() + element.size() + kTail.size() + reason.size());
  message.append(kHead).append(item).append(kMiddle).append(element).append(kTail).append(reason);
  return message;
}

// Failures are built out of line: nested lists recurse through validate, and
// error temporaries inlined there would enlarge the stack frame of every level.
[[gnu::cold, gnu::noinline]] Status fail_not_a_list(std::string_view value) {
  return fail(VyrlError::invalid_value(not_a_list_literal(value)));
}

[[gnu::cold, gnu::noinline]] Status fail_item(std::string_view item, std::string_view element,
                                              const VyrlError& reason) {
  return fail(VyrlError::invalid_value(item_failed(item, element, reason.message())));
}

// The text between the outer brackets, or nothing when `text` is not a list literal.
std::optional<std::string_view> list_body(std::string_view text) noexcept {
  const std::string_view trimmed = trim(text);
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return std::nullopt;
  return trimmed.substr(1, trimmed.size() - 2);
}

// Calls `visit` with each trimmed, non-empty item of `body` until it returns false.
// An item is always one contiguous slice of `body`, so items are views, not copies.
// The depth is signed: a stray closer takes it below zero, and commas split only at zero.
template <class Visit>
bool for_each_item(std::string_view body, Visit&& visit) {
  std::size_t start = 0;
  std::ptrdiff_t depth = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    switch (body[i]) {
      case '[':
      case '{':
        ++depth;
        break;
      case ']':
      case '}':
        --depth;
        break;
      case ',':
        if (depth == 0) {
          if (const std::string_view item = trim(body.substr(start, i - start)); !item.empty() && !visit(item)) {
            return false;
          }
          start = i + 1;
        }
        break;
      default:
        break;
    }
  }
  if (const std::string_view item = trim(body.substr(start)); !item.empty()) return visit(item);
  return true;
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
  const auto body = list_body(text);
  if (!body) return std::nullopt;
  std::vector<std::string> items;
  for_each_item(*body, [&items](std::string_view item) {
    items.emplace_back(item);
    return true;
  });
  return items;
}

Status ListType::validate(std::string_view value, const VYRL& document) const {
  const auto body = list_body(value);
  if (!body) return fail_not_a_list(value);

  std::string label;  // only built once there is an item to report under it
  Status result;
  for_each_item(*body, [&](std::string_view item) {
    if (label.empty()) label = std::string(kListOpen) + element_ + ">";
    result = document.validate_typed_field(element_, item, label, kItemField);
    if (result) return true;
    result = fail_item(item, element_, result.error());
    return false;
  });
  return result;
}

}  // namespace vyrl
