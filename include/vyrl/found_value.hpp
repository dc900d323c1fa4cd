#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vyrl {

// A lookup result: an owned copy of a key or value text, independent of the
// document it came from.
class FoundValue {
 public:
  explicit FoundValue(std::string text) : text_(std::move(text)) {}

  const std::string& text() const& noexcept { return text_; }
  std::string text() && noexcept { return std::move(text_); }

  // The text read as an inline object "{ k = v, ... }" (a later field of the
  // same name wins), or nothing when it is not one; parse errors are dropped.
  std::optional<std::map<std::string, std::string>> as_object() const;

  // The items of a list literal "[a, b, ...]", trimmed, empty ones dropped,
  // or nothing when the text is not one.
  std::optional<std::vector<std::string>> as_list() const;

 private:
  std::string text_;
};

}  // namespace vyrl
