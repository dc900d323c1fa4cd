#include <string>

#include "types/resolve.hpp"
#include "vyrl/depth_guard.hpp"
#include "vyrl/document.hpp"
#include "vyrl/parsing.hpp"
#include "vyrl/text.hpp"

namespace vyrl {
namespace {

VyrlError wrap(const VyrlError& inner, std::string_view schema, std::string_view field, std::string_view type_name) {
  return VyrlError::schema_validation(std::string(schema), std::string(field), std::string(type_name),
                                      inner.message());
}

}  // namespace

Status VYRL::validate_typed_field(std::string_view type_name, std::string_view value, std::string_view schema,
                                  std::string_view field) const {
  // Schema-typed values and list items recurse through here once per level.
  const ValidationDepthGuard depth;
  if (depth.exceeded()) {
    return fail(VyrlError::schema_validation(std::string(schema), std::string(field), std::string(type_name),
                                             std::string(kNestedTooDeeply)));
  }

  if (const auto alias = types_.find(type_name); alias != types_.end()) {
    if (auto valid = alias->second->validate(value, *this); !valid) {
      return fail(wrap(valid.error(), schema, field, type_name));
    }
    return {};
  }

  const auto found_schema = schemas_.find(type_name);
  if (found_schema == schemas_.end()) {
    auto type = resolve_builtin(type_name);
    if (!type) {
      return fail(VyrlError::schema_validation(std::string(schema), std::string(field), std::string(type_name),
                                               "Unknown type '" + std::string(type_name) + "'"));
    }
    if (auto valid = (*type)->validate(value, *this); !valid) return fail(wrap(valid.error(), schema, field, type_name));
    return {};
  }

  const std::string_view trimmed = trim(value);
  if (trimmed.empty() || trimmed.front() != '{' || trimmed.back() != '}') {
    const auto inner = VyrlError::invalid_value("Field typed as schema '" + std::string(type_name) +
                                                "' must be an inline object '{ k = v, ... }', got: '" +
                                                std::string(value) + "'");
    return fail(wrap(inner, schema, field, type_name));
  }
  auto pairs = parse_inline_object(value);
  if (!pairs) {
    const auto inner = VyrlError::invalid_value("Failed to parse inline object for schema '" +
                                                std::string(type_name) + "': " + pairs.error());
    return fail(wrap(inner, schema, field, type_name));
  }
  ViewMap object;
  object.reserve(pairs->size());
  for (const auto& [key, field_value] : *pairs) object.insert_or_assign(key, field_value);

  const SchemaDef& definition = found_schema->second;
  for (const auto& [field_name, field_type] : definition.fields) {
    if (const auto present = object.find(field_name); present != object.end()) {
      if (auto valid = validate_typed_field(field_type, present->second, type_name, field_name); !valid) {
        return fail(wrap(valid.error(), schema, field, type_name));
      }
    } else if (!definition.optional_fields.contains(field_name)) {
      const auto missing = VyrlError::schema_validation(
          std::string(type_name), field_name, field_type,
          "Missing field '" + field_name + "' in inline object for schema '" + std::string(type_name) + "'");
      return fail(wrap(missing, schema, field, type_name));
    }
  }
  return {};
}

Status VYRL::validate_value(std::string_view type_name, std::string_view value) const {
  auto check = [&](const Type& type) -> Status {
    if (auto valid = type.validate(value, *this); !valid) {
      return fail(VyrlError::invalid_type(std::string(type_name), valid.error().message()));
    }
    return {};
  };
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
      return fail(VyrlError::schema_validation(name, field_name, field_type,
                                               "Missing required field '" + field_name + "'"));
    }
  }
  return {};
}

}  // namespace vyrl
