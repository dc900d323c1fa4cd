#include "vyrl/error.hpp"
#include "literal/literal.hpp"

#include "text/text.hpp"

namespace vyrl {

std::string_view unwrap_quotes(std::string_view text) noexcept {
  const std::string_view t = trim(text);
  if (t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front()) {
    return t.substr(1, t.size() - 2);
  }
  return t;
}

std::optional<std::string_view> wrapped_body(std::string_view text, char open, char close) noexcept {
  const std::string_view t = trim(text);
  if (t.size() < 2 || t.front() != open || t.back() != close) return std::nullopt;
  return t.substr(1, t.size() - 2);
}

std::expected<FieldSplit, std::string> split_field_pair(std::string_view field) {
  std::int64_t depth = 0;  // wide enough that no text can overflow it
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if ((c == ':' || c == '=') && depth == 0) return FieldSplit{field.substr(0, i), field.substr(i + 1)};
    depth += depth_step(c);
  }
  return std::unexpected("Inline object field '" + excerpt(field) + "' has no '=' or ':' separator");
}

std::expected<std::vector<FieldSplit>, std::string> parse_inline_object_views(std::string_view text) {
  const auto inner = wrapped_body(text, '{', '}');
  if (!inner) return std::unexpected("Inline object must be wrapped in '{}', got: '" + excerpt(text) + "'");

  std::vector<FieldSplit> pairs;
  std::string failure;
  for_each_top_level_piece(*inner, [&](std::string_view raw) {
    const std::string_view piece = trim(raw);
    if (piece.empty()) return true;
    auto split = split_field_pair(piece);
    if (!split) {
      failure = std::move(split.error());
      return false;
    }
    const std::string_view key = trim(split->key);
    if (key.empty()) {
      failure = "Empty key in inline object field '" + excerpt(piece) + "'";
      return false;
    }
    std::string_view value = trim(split->value);
    if (value.empty() || (value.front() != '{' && value.front() != '[')) value = unwrap_quotes(value);
    pairs.push_back(FieldSplit{key, value});
    return true;
  });
  if (!failure.empty()) return std::unexpected(std::move(failure));
  return pairs;
}

std::expected<FieldPairs, std::string> parse_inline_object(std::string_view text) {
  auto views = parse_inline_object_views(text);
  if (!views) return std::unexpected(std::move(views.error()));
  FieldPairs pairs;
  pairs.reserve(views->size());
  for (const auto& [key, value] : *views) pairs.emplace_back(std::string(key), std::string(value));
  return pairs;
}

std::optional<std::vector<std::string>> parse_list_items(std::string_view text) {
  const auto body = wrapped_body(text, '[', ']');
  if (!body) return std::nullopt;
  std::vector<std::string> items;
  for_each_list_item(*body, [&items](std::string_view item) {
    items.emplace_back(item);
    return true;
  });
  return items;
}

}  // namespace vyrl
