#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyrl {

// How value texts are read when something asks for their structure: quotes,
// inline objects "{ k = v, ... }" and list literals "[a, b]". Everything here
// works on borrowed text; only the owning variants copy.

// The trimmed text without one enclosing pair of matching quotes.
std::string_view unwrap_quotes(std::string_view text) noexcept;

// How "[" "{" and "]" "}" move the nesting depth that separators are judged at.
constexpr int depth_step(char c) noexcept {
  switch (c) {
    case '[':
    case '{':
      return 1;
    case ']':
    case '}':
      return -1;
    default:
      return 0;
  }
}

// The text between `open` and `close` when the trimmed `text` is at least two
// bytes, starts with `open` and ends with `close`; nothing otherwise.
std::optional<std::string_view> wrapped_body(std::string_view text, char open, char close) noexcept;

// Calls `visit(piece)` with each piece of `body` between commas that stand at
// depth 0, untrimmed, the text after the last comma included, until `visit`
// returns false; returns whether every call returned true. Quotes do not
// protect commas, and a stray closer may take the depth below zero.
template <class Visit>
bool for_each_top_level_piece(std::string_view body, Visit&& visit) {
  std::int64_t depth = 0;  // wide enough that no text can overflow it
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == ',' && depth == 0) {
      if (!visit(body.substr(start, i - start))) return false;
      start = i + 1;
    } else {
      depth += depth_step(c);
    }
  }
  return visit(body.substr(start));
}

// --- Inline objects. ---

struct FieldSplit {
  std::string_view key;
  std::string_view value;
};
// Splits one field at the first ":" or "=" outside brackets and braces; untrimmed.
std::expected<FieldSplit, std::string> split_field_pair(std::string_view field);

// The fields as views into `text` (keys trimmed, values trimmed and unquoted
// unless they open a nested literal), in written order with duplicates kept,
// or the first failure's message.
std::expected<std::vector<FieldSplit>, std::string> parse_inline_object_views(std::string_view text);

using FieldPairs = std::vector<std::pair<std::string, std::string>>;
// The same fields as owned strings.
std::expected<FieldPairs, std::string> parse_inline_object(std::string_view text);

// --- List literals. ---

// Calls `visit(item)` with each trimmed, non-empty item of a list literal's
// body until it returns false; returns whether every call returned true.
template <class Visit>
bool for_each_list_item(std::string_view body, Visit&& visit);

// The trimmed, non-empty items of "[a, b, ...]", or nothing when `text` is not
// bracketed. Only "[]" and "{}" nest; quotes do not protect commas.
std::optional<std::vector<std::string>> parse_list_items(std::string_view text);

}  // namespace vyrl

#include "text/text.hpp"

namespace vyrl {

template <class Visit>
bool for_each_list_item(std::string_view body, Visit&& visit) {
  return for_each_top_level_piece(body, [&visit](std::string_view piece) {
    const std::string_view item = trim(piece);
    return item.empty() || visit(item);
  });
}

}  // namespace vyrl
