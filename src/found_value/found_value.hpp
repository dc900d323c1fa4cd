#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vyrl/registry.hpp"

namespace vyrl {

// A lookup result: an owned copy of a key or value text, independent of the
// document it came from.
class FoundValue {
 public:
  explicit FoundValue(std::string text) : text_(std::move(text)) {}

  const std::string& text() const& noexcept { return text_; }
  std::string text() && noexcept { return std::move(text_); }

  // The text read as an inline object (later duplicates win), or nothing when it
  // is not one; parse errors are dropped on purpose.
  std::optional<Registry<std::string>> as_object() const;

 private:
  std::string text_;
};

}  // namespace vyrl
