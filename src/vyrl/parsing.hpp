#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyrl {

// Messages of the line helpers; callers wrap them into a ParseError.
inline constexpr std::string_view kMissingAssignment = "Missing assignment operator '='";
inline constexpr std::string_view kEmptyKey = "Key cannot be empty";

// --- Line helpers: borrowed slices in, borrowed slices out, no allocation. ---

// The line cut before its comment; a "#" starts one only outside quotes with
// ASCII whitespace (or the line edge) on both sides, so "#FF8800" survives.
std::string_view strip_comment(std::string_view line) noexcept;

// The trimmed text without one enclosing pair of matching quotes.
std::string_view unwrap_quotes(std::string_view text) noexcept;

struct Assignment {
  std::string_view key;
  std::string_view value;
};
// Splits "key = value" at the first "=" outside brackets and braces.
std::expected<Assignment, std::string_view> parse_assignment(std::string_view line) noexcept;

// True when a directive line leaves a "{" open and continues on the next lines.
bool needs_accumulation(std::string_view line) noexcept;

// True once an accumulated block has at least as many "}" as "{".
bool block_is_complete(std::string_view block) noexcept;

// Curly-brace totals of a growing block; the loader adds each line once instead
// of recounting the whole block, which would make long blocks quadratic.
struct BraceCount {
  std::size_t open = 0;
  std::size_t close = 0;
  void add(std::string_view text) noexcept;
  bool closed() const noexcept { return close >= open; }
};

// --- Inline objects: "{ k = v, k: v }". ---

using FieldPairs = std::vector<std::pair<std::string, std::string>>;

struct FieldSplit {
  std::string_view key;
  std::string_view value;
};
// Splits one field at the first ":" or "=" outside brackets and braces; untrimmed.
std::expected<FieldSplit, std::string> split_field_pair(std::string_view field);

// The fields in written order, duplicates kept, or the first failure's message.
std::expected<FieldPairs, std::string> parse_inline_object(std::string_view text);

// The same fields as views into `text` (keys trimmed, values trimmed and
// unquoted), for callers that only look at them while `text` lives.
std::expected<std::vector<FieldSplit>, std::string> parse_inline_object_views(std::string_view text);

}  // namespace vyrl
