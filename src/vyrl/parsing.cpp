#include "vyrl/parsing.hpp"

#include <cstdint>
#include <cstring>

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

// Position of the first byte of `text` equal to `c`, or `limit` when there is
// none before it.
std::size_t find_before(std::string_view text, char c, std::size_t limit) noexcept {
  if (limit == 0) return 0;
  const void* hit = std::memchr(text.data(), c, limit);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : limit;
}

// Where the comment scan can start: before the first quote or "#" nothing can
// open a quote or a comment, and most lines hold neither.
std::size_t first_quote_or_hash(std::string_view line) noexcept {
  std::size_t first = line.size();
  for (const char special : {'#', '"', '\''}) first = find_before(line, special, first);
  return first;
}

// Written as a branch-free reduction without early exit so that the compiler
// can vectorise it.
bool has_bracket(std::string_view text) noexcept {
  unsigned char found = 0;
  for (const char c : text) found |= (c == '[') | (c == ']') | (c == '{') | (c == '}');
  return found != 0;
}

// The first "=" at bracket depth 0. A key without brackets, the usual case,
// makes that simply the first "=".
std::size_t assignment_separator(std::string_view line) noexcept {
  const std::size_t first = find_before(line, '=', line.size());
  if (first == line.size()) return std::string_view::npos;
  if (!has_bracket(line.substr(0, first))) return first;
  std::int32_t depth = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '=' && depth == 0) return i;
    depth += depth_step(c);
  }
  return std::string_view::npos;
}


}  // namespace

std::string_view strip_comment(std::string_view line) noexcept {
  char quote = 0;
  const std::size_t size = line.size();
  for (std::size_t p = first_quote_or_hash(line); p < size; ++p) {
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
  const std::size_t separator = assignment_separator(line);
  if (separator == std::string_view::npos) return std::unexpected(kMissingAssignment);
  const std::string_view key = trim(line.substr(0, separator));
  if (key.empty()) return std::unexpected(kEmptyKey);
  std::string_view value = trim(line.substr(separator + 1));
  if (value.empty() || (value.front() != '[' && value.front() != '{')) value = unwrap_quotes(value);
  return Assignment{key, value};
}

void BraceCount::add(std::string_view text) noexcept {
  for (char c : text) {
    open += c == '{';
    close += c == '}';
  }
}

bool needs_accumulation(std::string_view line) noexcept {
  if (line.empty() || line.front() != '@') return false;
  BraceCount count;
  count.add(line);
  return count.open > count.close;
}

bool block_is_complete(std::string_view block) noexcept {
  if (block.empty()) return true;
  BraceCount count;
  count.add(block);
  return count.closed();
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
  auto views = parse_inline_object_views(text);
  if (!views) return std::unexpected(std::move(views.error()));
  FieldPairs pairs;
  pairs.reserve(views->size());
  for (const auto& [key, value] : *views) pairs.emplace_back(std::string(key), std::string(value));
  return pairs;
}

std::expected<std::vector<FieldSplit>, std::string> parse_inline_object_views(std::string_view text) {
  const std::string_view t = trim(text);
  if (t.size() < 2 || t.front() != '{' || t.back() != '}') {
    return std::unexpected("Inline object must be wrapped in '{}', got: '" + std::string(text) + "'");
  }
  const std::string_view inner = t.substr(1, t.size() - 2);

  std::vector<FieldSplit> pairs;
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
    pairs.push_back(FieldSplit{key, value});
  }
  return pairs;
}

}  // namespace vyrl
