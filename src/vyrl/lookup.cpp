#include "found_value/found_value.hpp"
#include "vyrl/document.hpp"

namespace vyrl {

std::optional<FoundValue> VYRL::find_key(std::string_view value) const {
  for (const auto& [key, stored] : values_) {
    if (stored == value) return FoundValue(key);
  }
  return std::nullopt;
}

std::optional<FoundValue> VYRL::find_obj(std::string_view key) const {
  if (values_.empty()) return std::nullopt;
  if (const auto found = values_.find(key); found != values_.end()) return FoundValue(found->second);
  return find_key(key);
}

std::optional<FoundValue> VYRL::find_deep(std::string_view key) const {
  if (values_.empty()) return std::nullopt;
  // The chain only ever refers to the argument and to stored texts, so the
  // visited set can hold views instead of copies.
  ViewSet visited;
  std::string_view current = key;
  const std::string* last = nullptr;
  for (;;) {
    const auto found = values_.find(current);
    if (found == values_.end()) break;
    if (!visited.insert(current).second) break;
    const std::string& next = found->second;
    if (visited.contains(std::string_view(next))) {
      if (last == nullptr) return FoundValue(next);
      break;
    }
    last = &next;
    current = next;
  }
  if (last == nullptr) return std::nullopt;
  return FoundValue(*last);
}

}  // namespace vyrl
