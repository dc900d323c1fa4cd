#pragma once

#include <memory>
#include <string_view>

#include "error/error.hpp"

namespace vyrl {

class VYRL;
class PrimitiveType;

// A rule deciding whether a value text is acceptable. Objects are owned by one
// holder, immutable once built, and resolved afresh for every check.
class Type {
 public:
  virtual ~Type() = default;
  // The primitive scalar that values of this type reduce to.
  virtual PrimitiveType base_type() const = 0;
  // Checks `value` as passed (no trimming); `document` is only consulted by lists.
  virtual Status validate(std::string_view value, const VYRL& document) const = 0;
};

using TypePtr = std::unique_ptr<Type>;

}  // namespace vyrl
