#pragma once

#include <memory>
#include <string_view>

#include "vyrl/error.hpp"

namespace vyrl {

class PrimitiveType;
class Type;
struct SchemaDef;

// What a check may look up while it runs: the aliases and schemas declared so
// far, by name. Types see nothing else of a document.
class TypeScope {
 public:
  virtual const Type* alias(std::string_view name) const noexcept = 0;
  virtual const SchemaDef* schema(std::string_view name) const noexcept = 0;

 protected:
  ~TypeScope() = default;
};

// A rule deciding whether a value text is acceptable. Objects are owned by one
// holder and immutable once built.
class Type {
 public:
  virtual ~Type() = default;
  // The primitive scalar that values of this type reduce to.
  virtual PrimitiveType base_type() const = 0;
  // Checks `value` as passed (no trimming); only lists consult `scope`, for
  // their element type.
  virtual Status validate(std::string_view value, const TypeScope& scope) const = 0;
};

using TypePtr = std::unique_ptr<Type>;

}  // namespace vyrl
