#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "error/error.hpp"
#include "types/primitive_type.hpp"
#include "types/type.hpp"

namespace vyrl {

// What "@type name = definition" stores under the alias name. The definition is
// kept as text and resolved again at every check; it never names another alias
// or a schema, only a primitive or a built-in path.
class TypeDefinition final : public Type {
 public:
  enum class Kind { PrimitiveName, BuiltinPath };

  // `definition` is already trimmed; a "::" anywhere makes it a built-in path.
  explicit TypeDefinition(std::string definition)
      : kind_(definition.find("::") == std::string::npos ? Kind::PrimitiveName : Kind::BuiltinPath),
        definition_(std::move(definition)) {}

  Kind kind() const noexcept { return kind_; }
  const std::string& definition() const noexcept { return definition_; }

  // The base type of what the definition names, or string when it names nothing.
  PrimitiveType base_type() const override;
  // An unknown definition fails with the resolver's own NotFound, unchanged.
  Status validate(std::string_view value, const VYRL& document) const override;

 private:
  Kind kind_;
  std::string definition_;
};

}  // namespace vyrl
