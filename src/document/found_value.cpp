#include "vyrl/found_value.hpp"

#include "literal/literal.hpp"

namespace vyrl {

std::optional<std::map<std::string, std::string>> FoundValue::as_object() const {
  if (!wrapped_body(text_, '{', '}')) return std::nullopt;
  auto pairs = parse_inline_object(text_);
  if (!pairs) return std::nullopt;
  std::map<std::string, std::string> object;
  for (auto& [key, value] : *pairs) object.insert_or_assign(std::move(key), std::move(value));
  return object;
}

std::optional<std::vector<std::string>> FoundValue::as_list() const { return parse_list_items(text_); }

}  // namespace vyrl
