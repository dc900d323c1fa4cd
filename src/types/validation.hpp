#pragma once

#include <string_view>

#include "types/quick_check.hpp"
#include "types/type.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

// What a type name means to a field, looked up in a fixed order: an alias
// hides a schema of the same name, and a schema hides a built-in type.
// Nothing is set when no one knows the name.
struct FieldType {
  const Type* alias = nullptr;
  const SchemaDef* schema = nullptr;
  const Type* builtin = nullptr;  // shared, or `owned`
  TypePtr owned;                  // a list type, made for this name
  QuickCheck quick;               // passes most values of a built-in type without `builtin`
};
FieldType resolve_field_type(const TypeScope& scope, std::string_view type_name);

// Checks a value that belongs to field `field` of schema `schema` (both used
// only in messages). Every failure is a SchemaValidationError naming them.
Status validate_typed_field(const TypeScope& scope, std::string_view type_name, std::string_view value,
                            std::string_view schema, std::string_view field);

// The same check with the type already looked up, for callers that check many
// values against one type (the items of a list).
Status validate_resolved_field(const TypeScope& scope, const FieldType& type, std::string_view type_name,
                               std::string_view value, std::string_view schema, std::string_view field);

// Checks a value against a type name outside any schema: aliases and built-in
// types only. Fails with NotFound for an unknown type, InvalidType for a
// rejected value.
Status validate_value(const TypeScope& scope, std::string_view type_name, std::string_view value);

}  // namespace vyrl
