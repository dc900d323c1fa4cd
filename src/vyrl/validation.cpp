#include <string>
#include <utility>

#include "types/resolve.hpp"
#include "vyrl/depth_guard.hpp"
#include "vyrl/document.hpp"
#include "vyrl/parsing.hpp"
#include "vyrl/text.hpp"

namespace vyrl {
namespace {

std::string unknown_type(std::string_view type_name) { return "Unknown type '" + std::string(type_name) + "'"; }

std::string not_an_inline_object(std::string_view schema_type, std::string_view value) {
  return "Field typed as schema '" + std::string(schema_type) + "' must be an inline object '{ k = v, ... }', got: '" +
         std::string(value) + "'";
}

std::string unparsable_inline_object(std::string_view schema_type, std::string_view reason) {
  return "Failed to parse inline object for schema '" + std::string(schema_type) + "': " + std::string(reason);
}

std::string missing_object_field(std::string_view field, std::string_view schema_type) {
  return "Missing field '" + std::string(field) + "' in inline object for schema '" + std::string(schema_type) + "'";
}

std::string missing_required_field(std::string_view field) {
  return "Missing required field '" + std::string(field) + "'";
}

VyrlError field_error(std::string_view schema, std::string_view field, std::string_view type_name,
                      std::string description) {
  return VyrlError::schema_validation(std::string(schema), std::string(field), std::string(type_name),
                                      std::move(description));
}

VyrlError wrap(const VyrlError& inner, std::string_view schema, std::string_view field, std::string_view type_name) {
  return field_error(schema, field, type_name, inner.message());
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
  return fail(field_error(schema, field, type_name, unknown_type(type_name)));
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
[[gnu::noinline]] Status check_with_type(const Type& type, const VYRL& document, std::string_view type_name,
                                         std::string_view value, std::string_view schema, std::string_view field) {
  if (auto valid = type.validate(value, document); !valid) return fail_wrapped(valid.error(), schema, field, type_name);
  return {};
}

[[gnu::noinline]] Status check_builtin(const VYRL& document, std::string_view type_name, std::string_view value,
                                       std::string_view schema, std::string_view field) {
  const auto type = resolve_builtin(type_name);
  if (!type) return fail_unknown_type(schema, field, type_name);
  return check_with_type(**type, document, type_name, value, schema, field);
}

// A value of a schema's type: an inline object whose fields are checked one level down.
[[gnu::noinline]] Status check_object(const VYRL& document, const SchemaDef& definition, std::string_view type_name,
                                      std::string_view value, std::string_view schema, std::string_view field) {
  const std::string_view trimmed = trim(value);
  if (trimmed.empty() || trimmed.front() != '{' || trimmed.back() != '}') {
    return fail_not_an_object(value, schema, field, type_name);
  }
  // Views, not copies: a nested object is checked one level down while this
  // level's fields are still held.
  const auto pairs = parse_inline_object_views(value);
  if (!pairs) return fail_unparsable(pairs.error(), schema, field, type_name);
  ViewMap object;
  object.reserve(pairs->size());
  for (const auto& [key, field_value] : *pairs) object.insert_or_assign(key, field_value);

  for (const auto& [field_name, field_type] : definition.fields) {
    if (const auto present = object.find(field_name); present != object.end()) {
      if (auto valid = document.validate_typed_field(field_type, present->second, type_name, field_name); !valid) {
        return fail_wrapped(valid.error(), schema, field, type_name);
      }
    } else if (!definition.optional_fields.contains(field_name)) {
      return fail_missing(field_name, field_type, schema, field, type_name);
    }
  }
  return {};
}

// Everything of validate_typed_field but the depth limit. Each kind of type has
// a function of its own, so a chain of nested checks carries only the frames of
// the kinds it passes through.
Status check_typed_field(const VYRL& document, std::string_view type_name, std::string_view value,
                         std::string_view schema, std::string_view field) {
  // An alias hides a schema of the same name, and a schema hides a built-in type.
  if (const auto alias = document.types().find(type_name); alias != document.types().end()) {
    return check_with_type(*alias->second, document, type_name, value, schema, field);
  }
  if (const auto found = document.schemas().find(type_name); found != document.schemas().end()) {
    return check_object(document, found->second, type_name, value, schema, field);
  }
  return check_builtin(document, type_name, value, schema, field);
}

}  // namespace

Status VYRL::validate_typed_field(std::string_view type_name, std::string_view value, std::string_view schema,
                                  std::string_view field) const {
  const ValidationDepthGuard depth;
  if (depth.exceeded()) {
    out_of_depth = true;
    return fail_too_deep();
  }
  Status checked = check_typed_field(*this, type_name, value, schema, field);
  if (!depth.outermost()) {
    if (!checked && out_of_depth) return fail_too_deep();
    return checked;
  }
  if (std::exchange(out_of_depth, false) && !checked) return fail_too_deep_at(schema, field, type_name);
  return checked;
}

Status VYRL::validate_value(std::string_view type_name, std::string_view value) const {
  auto check = [&](const Type& type) -> Status {
    if (auto valid = type.validate(value, *this); !valid) {
      return fail(VyrlError::invalid_type(std::string(type_name), valid.error().message()));
    }
    return {};
  };
  // Schemas type fields only; here a schema name is as unknown as any other word.
  if (const auto alias = types_.find(type_name); alias != types_.end()) return check(*alias->second);
  auto type = resolve_builtin(type_name);
  if (!type) return fail(VyrlError::not_found(std::string(type_name)));
  return check(**type);
}

Status VYRL::validate_schemas_completeness_for(std::span<const std::string> schema_names) const {
  if (schema_names.empty() || schemas_.empty()) return {};
  for (const std::string& name : schema_names) {
    const auto schema = schemas_.find(name);
    if (schema == schemas_.end()) continue;
    for (const auto& [field_name, field_type] : schema->second.fields) {
      if (schema->second.optional_fields.contains(field_name) || values_.contains(field_name)) continue;
      return fail(field_error(name, field_name, field_type, missing_required_field(field_name)));
    }
  }
  return {};
}

}  // namespace vyrl
