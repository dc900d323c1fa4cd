#include <string>
#include <utility>

#include "vyrl/error.hpp"
#include "types/validation.hpp"

#include "literal/literal.hpp"
#include "support/hash.hpp"
#include "text/text.hpp"
#include "types/depth_guard.hpp"
#include "types/resolve.hpp"
#include "types/list.hpp"
#include "types/schema.hpp"

namespace vyrl {
namespace {

std::string unknown_type(std::string_view type_name) { return "Unknown type '" + excerpt(type_name) + "'"; }

std::string not_an_inline_object(std::string_view schema_type, std::string_view value) {
  return "Field typed as schema '" + excerpt(schema_type) + "' must be an inline object '{ k = v, ... }', got: '" +
         excerpt(value) + "'";
}

std::string unparsable_inline_object(std::string_view schema_type, std::string_view reason) {
  return "Failed to parse inline object for schema '" + excerpt(schema_type) + "': " + std::string(reason);
}

std::string missing_object_field(std::string_view field, std::string_view schema_type) {
  return "Missing field '" + excerpt(field) + "' in inline object for schema '" + excerpt(schema_type) + "'";
}

VyrlError field_error(std::string_view schema, std::string_view field, std::string_view type_name,
                      std::string description) {
  return VyrlError::schema_validation(std::string(schema), std::string(field), std::string(type_name),
                                      std::move(description));
}

// The outer error says where in the value; what the inner one knew about the
// mistake (the name nothing knew, the slip) travels up with it, for tools
// that suggest a fix.
VyrlError wrap(const VyrlError& inner, std::string_view schema, std::string_view field, std::string_view type_name) {
  VyrlError outer = field_error(schema, field, type_name, inner.message());
  outer.keep_hints_of(inner);
  return outer;
}

// The failures are built out of line. The checks below recurse once per nesting
// level of a value, and error temporaries inlined into them would multiply every
// level's stack frame: the depth limit is only a guard if its deepest chain fits
// in an ordinary thread's stack.

[[gnu::cold, gnu::noinline]] Status fail_wrapped(const VyrlError& inner, std::string_view schema,
                                                 std::string_view field, std::string_view type_name) {
  return fail(wrap(inner, schema, field, type_name));
}

[[gnu::cold, gnu::noinline]] Status fail_unknown_type(std::string_view schema, std::string_view field,
                                                      std::string_view type_name) {
  VyrlError unknown = field_error(schema, field, type_name, unknown_type(type_name));
  unknown.set_unknown_type(std::string(type_name));
  return fail(std::move(unknown));
}

[[gnu::cold, gnu::noinline]] Status fail_not_an_object(std::string_view value, std::string_view schema,
                                                       std::string_view field, std::string_view type_name) {
  return fail_wrapped(VyrlError::invalid_value(not_an_inline_object(type_name, value)), schema, field, type_name);
}

[[gnu::cold, gnu::noinline]] Status fail_unparsable(std::string_view reason, std::string_view schema,
                                                    std::string_view field, std::string_view type_name) {
  return fail_wrapped(VyrlError::invalid_value(unparsable_inline_object(type_name, reason)), schema, field,
                      type_name);
}

[[gnu::cold, gnu::noinline]] Status fail_missing(std::string_view missing_field, std::string_view missing_type,
                                                 std::string_view schema, std::string_view field,
                                                 std::string_view type_name) {
  const VyrlError missing =
      field_error(type_name, missing_field, missing_type, missing_object_field(missing_field, type_name));
  return fail_wrapped(missing, schema, field, type_name);
}

// The stand-in passed up between the limit and the outermost check.
[[gnu::cold, gnu::noinline]] Status fail_too_deep() {
  return fail(VyrlError::invalid_value(std::string(kNestedTooDeeply)));
}

[[gnu::cold, gnu::noinline]] Status fail_too_deep_at(std::string_view schema, std::string_view field,
                                                     std::string_view type_name) {
  return fail(field_error(schema, field, type_name, std::string(kNestedTooDeeply)));
}

// Set on this thread when a check went past the depth limit. Every level would
// otherwise wrap the failure once more, and list levels repeat their whole item
// and type texts, so a deep value would build an error hundreds of times its own
// size. Instead each level in between passes up a small stand-in, which the
// level above discards, and the outermost check reports the limit once, under
// its own field.
thread_local bool out_of_depth = false;

// A value checked by a type object: an alias's definition or a built-in type.
[[gnu::noinline]] Status check_with_type(const Type& type, const TypeScope& scope, std::string_view type_name,
                                         std::string_view value, std::string_view schema, std::string_view field) {
  if (auto valid = type.validate(value, scope); !valid) return fail_wrapped(valid.error(), schema, field, type_name);
  return {};
}

// A value of a schema's type: an inline object whose fields are checked one
// level down. The object's own fields are visited, then the schema's required
// ones, so a schema with many optional fields costs nothing per absent field.
[[gnu::noinline]] Status check_object(const TypeScope& scope, const SchemaDef& definition, std::string_view type_name,
                                      std::string_view value, std::string_view schema, std::string_view field) {
  const std::string_view trimmed = trim(value);
  if (trimmed.empty() || trimmed.front() != '{' || trimmed.back() != '}') {
    return fail_not_an_object(value, schema, field, type_name);
  }
  // Views, not copies: a nested object is checked one level down while this
  // level's fields are still held.
  const auto pairs = parse_inline_object_views(value);
  if (!pairs) return fail_unparsable(pairs.error(), schema, field, type_name);
  ViewMap object;  // a later field of the same key replaces an earlier one
  object.reserve(pairs->size());
  for (const auto& [key, field_value] : *pairs) object.insert_or_assign(key, field_value);

  for (const auto& [key, field_value] : object) {
    const auto declared = definition.fields.find(key);
    if (declared == definition.fields.end()) continue;  // keys the schema does not declare are ignored
    if (auto valid = validate_typed_field(scope, declared->second, field_value, type_name, key); !valid) {
      return fail_wrapped(valid.error(), schema, field, type_name);
    }
  }
  for (const std::uint32_t position : definition.required) {
    const auto& [field_name, field_type] = definition.fields.begin()[position];
    if (!object.contains(field_name)) return fail_missing(field_name, field_type, schema, field, type_name);
  }
  return {};
}

// Everything of a field check but the depth limit. Each kind of type has a
// function of its own, so a chain of nested checks carries only the frames of
// the kinds it passes through.
Status check_field(const TypeScope& scope, const FieldType& type, std::string_view type_name, std::string_view value,
                   std::string_view schema, std::string_view field) {
  if (type.alias != nullptr) return check_with_type(*type.alias, scope, type_name, value, schema, field);
  if (type.schema != nullptr) return check_object(scope, *type.schema, type_name, value, schema, field);
  if (type.builtin) return check_with_type(*type.builtin, scope, type_name, value, schema, field);
  return fail_unknown_type(schema, field, type_name);
}

// Runs one level of checking under the depth limit.
template <class Check>
Status within_depth(std::string_view schema, std::string_view field, std::string_view type_name, Check&& check) {
  const ValidationDepthGuard depth;
  if (depth.exceeded()) {
    out_of_depth = true;
    return fail_too_deep();
  }
  Status checked = check();
  if (!depth.outermost()) {
    if (!checked && out_of_depth) return fail_too_deep();
    return checked;
  }
  if (std::exchange(out_of_depth, false) && !checked) return fail_too_deep_at(schema, field, type_name);
  return checked;
}

}  // namespace

FieldType resolve_field_type(const TypeScope& scope, std::string_view type_name) {
  FieldType type;
  if ((type.alias = scope.alias(type_name)) != nullptr) return type;
  if ((type.schema = scope.schema(type_name)) != nullptr) return type;
  if (const BuiltinScalar scalar = builtin_scalar(type_name); scalar.type != nullptr) {
    type.builtin = scalar.type;
    type.quick = scalar.quick;
    return type;
  }
  const auto element = ListType::parse_inner(type_name);
  if (!element) return type;
  auto list = resolve_builtin(type_name);
  if (!list) return type;
  type.owned = std::move(*list);
  type.builtin = type.owned.get();
  // A list's items are checked one level down under the element's own name,
  // which an alias or schema may take; a list of lists keeps to the full check.
  if (scope.alias(*element) == nullptr && scope.schema(*element) == nullptr) {
    if (const QuickCheck item = builtin_scalar(*element).quick; item.kind != QuickCheck::Kind::Full) {
      type.quick = QuickCheck{QuickCheck::Kind::List, item.kind, item.components};
    }
  }
  return type;
}

Status validate_typed_field(const TypeScope& scope, std::string_view type_name, std::string_view value,
                            std::string_view schema, std::string_view field) {
  return within_depth(schema, field, type_name, [&] {
    return check_field(scope, resolve_field_type(scope, type_name), type_name, value, schema, field);
  });
}

Status validate_resolved_field(const TypeScope& scope, const FieldType& type, std::string_view type_name,
                               std::string_view value, std::string_view schema, std::string_view field) {
  return within_depth(schema, field, type_name,
                      [&] { return check_field(scope, type, type_name, value, schema, field); });
}

Status validate_value(const TypeScope& scope, std::string_view type_name, std::string_view value) {
  auto check = [&](const Type& type) -> Status {
    if (auto valid = type.validate(value, scope); !valid) {
      VyrlError rejected = VyrlError::invalid_type(std::string(type_name), valid.error().message());
      rejected.keep_hints_of(valid.error());
      return fail(std::move(rejected));
    }
    return {};
  };
  // Schemas type fields only; here a schema name is as unknown as any other word.
  if (const Type* alias = scope.alias(type_name)) return check(*alias);
  auto type = resolve_builtin(type_name);
  if (!type) {
    VyrlError unknown = VyrlError::not_found(std::string(type_name));
    unknown.set_unknown_type(std::string(type_name));
    return fail(std::move(unknown));
  }
  return check(**type);
}

}  // namespace vyrl
