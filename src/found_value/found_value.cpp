#include "found_value/found_value.hpp"

#include "vyrl/parsing.hpp"
#include "vyrl/text.hpp"

namespace vyrl {

std::optional<Registry<std::string>> FoundValue::as_object() const {
  const std::string_view t = trim(text_);
  if (t.empty() || t.front() != '{' || t.back() != '}') return std::nullopt;
  auto pairs = parse_inline_object(text_);
  if (!pairs) return std::nullopt;
  Registry<std::string> object;
  object.reserve(pairs->size());
  for (auto& [key, value] : *pairs) object.insert_or_assign(std::move(key), std::move(value));
  return object;
}

}  // namespace vyrl
