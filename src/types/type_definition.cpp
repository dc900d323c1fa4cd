#include "types/type_definition.hpp"

#include "types/resolve.hpp"

namespace vyrl {

PrimitiveType TypeDefinition::base_type() const {
  const PrimitiveType fallback(PrimitiveType::Member::String);
  if (kind_ == Kind::PrimitiveName) return PrimitiveType::from_name(definition_).value_or(fallback);
  const auto resolved = resolve_builtin(definition_);
  return resolved ? (*resolved)->base_type() : fallback;
}

Status TypeDefinition::validate(std::string_view value, const VYRL& document) const {
  if (kind_ == Kind::PrimitiveName) {
    auto primitive = PrimitiveType::from_name(definition_);
    if (!primitive) return fail(std::move(primitive.error()));
    return primitive->validate(value, document);
  }
  auto resolved = resolve_builtin(definition_);
  if (!resolved) return fail(std::move(resolved.error()));
  return (*resolved)->validate(value, document);
}

}  // namespace vyrl
