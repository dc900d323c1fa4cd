#include "types/type_definition.hpp"

#include <memory>

#include "types/list.hpp"
#include "types/resolve.hpp"

namespace vyrl {
namespace {

Result<TypePtr> look_up(TypeDefinition::Kind kind, std::string_view definition) {
  if (kind == TypeDefinition::Kind::BuiltinPath) return resolve_builtin(definition);
  auto primitive = PrimitiveType::from_name(definition);
  if (!primitive) return fail(std::move(primitive.error()));
  return std::make_unique<PrimitiveType>(*primitive);
}

}  // namespace

TypeDefinition::TypeDefinition(std::string definition)
    : kind_(definition.find("::") == std::string::npos ? Kind::PrimitiveName : Kind::BuiltinPath),
      definition_(std::move(definition)),
      named_(look_up(kind_, definition_)) {}

PrimitiveType TypeDefinition::base_type() const {
  return named_ ? (*named_)->base_type() : PrimitiveType(PrimitiveType::Member::String);
}

Status TypeDefinition::validate(std::string_view value, const TypeScope& scope) const {
  if (!named_) {
    VyrlError unknown = named_.error();
    unknown.set_unknown_type(definition_);
    // "list<i32>" has no "::", so it was looked up as a primitive's name.
    if (kind_ == Kind::PrimitiveName && ListType::parse_inner(definition_)) {
      unknown.set_slip(VyrlError::Slip::list_alias);
    }
    return fail(std::move(unknown));
  }
  return (*named_)->validate(value, scope);
}

}  // namespace vyrl
