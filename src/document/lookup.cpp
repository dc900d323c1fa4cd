#include <string>

#include "document/internals.hpp"
#include "vyrl/document.hpp"

namespace vyrl {

std::optional<FoundValue> VYRL::find_key(std::string_view value) const {
  const auto key = state_->store.key_holding(value);
  if (!key) return std::nullopt;
  return FoundValue(std::string(*key));
}

std::optional<FoundValue> VYRL::find_obj(std::string_view key) const {
  if (size() == 0) return std::nullopt;
  if (const auto value = get(key)) return FoundValue(std::string(*value));
  return find_key(key);
}

std::optional<FoundValue> VYRL::find_deep(std::string_view key) const {
  const auto& values = state_->store.values();
  if (values.empty()) return std::nullopt;
  // The chain only ever refers to the argument and to stored texts, so the
  // visited set can hold views instead of copies.
  ViewSet visited;
  std::string_view current = key;
  std::optional<std::string_view> last;
  for (;;) {
    const auto next = values.find(current);
    if (!next) break;
    if (!visited.insert(current).second) break;
    if (visited.contains(*next)) {
      if (!last) return FoundValue(std::string(*next));
      break;
    }
    last = *next;
    current = *next;
  }
  if (!last) return std::nullopt;
  return FoundValue(std::string(*last));
}

}  // namespace vyrl
