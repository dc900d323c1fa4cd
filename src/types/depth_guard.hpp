#pragma once

#include <cstddef>
#include <string_view>

namespace vyrl {

// Validation recurses once per nesting level of a value (schema-typed objects,
// lists of lists); a crafted value must not be able to exhaust the stack.
inline constexpr std::size_t kMaxValidationDepth = 256;
inline constexpr std::string_view kNestedTooDeeply = "Value is nested too deeply (more than 256 levels)";
static_assert(kMaxValidationDepth == 256, "the message above names the limit");

class ValidationDepthGuard {
 public:
  ValidationDepthGuard() noexcept { ++depth_; }
  ~ValidationDepthGuard() { --depth_; }
  ValidationDepthGuard(const ValidationDepthGuard&) = delete;
  ValidationDepthGuard& operator=(const ValidationDepthGuard&) = delete;

  bool exceeded() const noexcept { return depth_ > kMaxValidationDepth; }
  // True for the guard of the check that no other check encloses.
  bool outermost() const noexcept { return depth_ == 1; }

 private:
  static inline thread_local std::size_t depth_ = 0;
};

}  // namespace vyrl
