#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "types/primitive_type.hpp"
#include "types/type.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

// What "@type name = definition" stores under the alias name. A definition
// never names another alias or a schema, only a primitive or a built-in path,
// so what it names cannot change after the alias is declared: it is looked up
// once, here, instead of at every check.
class TypeDefinition final : public Type {
 public:
  enum class Kind { PrimitiveName, BuiltinPath };

  // `definition` is already trimmed; a "::" anywhere makes it a built-in path.
  explicit TypeDefinition(std::string definition);

  Kind kind() const noexcept { return kind_; }
  const std::string& definition() const noexcept { return definition_; }

  // The base type of what the definition names, or string when it names nothing.
  PrimitiveType base_type() const override;
  // An unknown definition fails with the resolver's own NotFound, unchanged.
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  Kind kind_;
  std::string definition_;
  Result<TypePtr> named_;  // what the definition names, or why it names nothing
};

}  // namespace vyrl
