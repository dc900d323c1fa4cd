#include "vyrl/parsing.hpp"

#include <cstdint>

#include "vyrl/text.hpp"

namespace vyrl {
namespace {

// The comment rule's notion of whitespace is deliberately ASCII-only and excludes
// vertical tab, so that exotic spacing never hides the rest of a value.
constexpr bool is_comment_space(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

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

struct BraceCount {
  std::size_t open = 0;
  std::size_t close = 0;
};

BraceCount count_braces(std::string_view text) noexcept {
  BraceCount count;
  for (char c : text) {
    count.open += c == '{';
    count.close += c == '}';
  }
  return count;
}

}  // namespace

std::string_view strip_comment(std::string_view line) noexcept {
  char quote = 0;
  const std::size_t size = line.size();
  for (std::size_t p = 0; p < size; ++p) {
    const char c = line[p];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (p == 0 || is_comment_space(line[p - 1])) &&
               (p + 1 == size || is_comment_space(line[p + 1]))) {
      return line.substr(0, p);
    }
  }
  return line;
}

std::string_view unwrap_quotes(std::string_view text) noexcept {
  const std::string_view t = trim(text);
  if (t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front()) {
    return t.substr(1, t.size() - 2);
  }
  return t;
}

std::expected<Assignment, std::string_view> parse_assignment(std::string_view line) noexcept {
  std::int32_t depth = 0;
  std::size_t separator = std::string_view::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '=' && depth == 0) {
      separator = i;
      break;
    }
    depth += depth_step(c);
  }
  if (separator == std::string_view::npos) return std::unexpected(kMissingAssignment);
  const std::string_view key = trim(line.substr(0, separator));
  if (key.empty()) return std::unexpected(kEmptyKey);
  std::string_view value = trim(line.substr(separator + 1));
  if (value.empty() || (value.front() != '[' && value.front() != '{')) value = unwrap_quotes(value);
  return Assignment{key, value};
}

bool needs_accumulation(std::string_view line) noexcept {
  if (line.empty() || line.front() != '@') return false;
  const BraceCount count = count_braces(line);
  return count.open > count.close;
}

bool block_is_complete(std::string_view block) noexcept {
  if (block.empty()) return true;
  const BraceCount count = count_braces(block);
  return count.close >= count.open;
}

std::expected<FieldSplit, std::string> split_field_pair(std::string_view field) {
  std::int32_t depth = 0;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if ((c == ':' || c == '=') && depth == 0) return FieldSplit{field.substr(0, i), field.substr(i + 1)};
    depth += depth_step(c);
  }
  return std::unexpected("Inline object field '" + std::string(field) + "' has no '=' or ':' separator");
}

std::expected<FieldPairs, std::string> parse_inline_object(std::string_view text) {
  const std::string_view t = trim(text);
  if (t.size() < 2 || t.front() != '{' || t.back() != '}') {
    return std::unexpected("Inline object must be wrapped in '{}', got: '" + std::string(text) + "'");
  }
  const std::string_view inner = t.substr(1, t.size() - 2);

  FieldPairs pairs;
  std::int32_t depth = 0;
  std::size_t piece_start = 0;
  // One pass over the inner text; each piece is handled as soon as its comma is seen.
  for (std::size_t i = 0; i <= inner.size(); ++i) {
    if (i < inner.size()) {
      const char c = inner[i];
      if (!(c == ',' && depth == 0)) {
        depth += depth_step(c);
        continue;
      }
    }
    const std::string_view piece = trim(inner.substr(piece_start, i - piece_start));
    piece_start = i + 1;
    if (piece.empty()) continue;
    auto split = split_field_pair(piece);
    if (!split) return std::unexpected(std::move(split.error()));
    const std::string_view key = trim(split->key);
    if (key.empty()) return std::unexpected("Empty key in inline object field '" + std::string(piece) + "'");
    std::string_view value = trim(split->value);
    if (value.empty() || (value.front() != '{' && value.front() != '[')) value = unwrap_quotes(value);
    pairs.emplace_back(std::string(key), std::string(value));
  }
  return pairs;
}

}  // namespace vyrl
