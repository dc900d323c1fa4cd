#include "directive/derive.hpp"

#include <string>

#include "directive/directive.hpp"
#include "store/store.hpp"
#include "text/text.hpp"
#include "types/list.hpp"

namespace vyrl {
namespace {

std::string schema_not_found(std::string_view name) { return "Schema '" + std::string(name) + "' not found"; }

}  // namespace

Status import_schema(Store& store, std::string_view name, Store& base) {
  auto schema = base.take_schema(name);
  if (!schema) return fail(VyrlError::directive(std::string(kDeriveDirective), schema_not_found(name)));
  // The aliases come along even when this document keeps its own schema of
  // that name; an alias already here is never replaced.
  for (const auto& [field, type_name] : schema->fields) {
    const std::string_view alias = ListType::parse_inner(type_name).value_or(type_name);
    if (TypePtr definition = base.take_type(alias)) store.insert_type_if_absent(std::string(alias), std::move(definition));
  }
  store.insert_schema_if_absent(std::string(name), std::move(*schema));
  return {};
}

void merge_map_weak(Store& store, Store& base) { store.take_missing_values(base); }

Status validate_schemas_completeness_for(const Store& store, std::span<const std::string> schema_names) {
  for (const std::string& name : schema_names) {
    if (const SchemaDef* schema = store.schema(name)) {
      if (auto complete = store.require_complete(name, *schema); !complete) return complete;
    }
  }
  return {};
}

// @derive path[::Schema...]: loads a base file into a store of its own and
// takes from it what this document lacks (schemas, the aliases they use, keys),
// never replacing anything already here; then checks that the schemas held
// before this line are complete.
Status execute_derive(const DirectiveContext& context, std::string_view arguments) {
  const DeriveTarget target = split_derive_arguments(arguments);
  Store base;
  auto loaded = context.nested.load_file(base, {target.path, Frame::Origin::derived});
  if (!loaded) {
    return fail(VyrlError::directive(std::string(kDeriveDirective), nested_refusal_reason(loaded.error(), target.path)));
  }
  if (!*loaded) return std::move(*loaded);

  // Only the schemas held before this line must be complete; those arriving
  // from the base answer to the base file.
  const std::size_t held_before = context.store.completeness_mark();
  const std::vector<std::string> held = context.store.unverified_schemas(held_before);

  if (target.schemas.empty()) {
    // The names are views into base's registry, which each import changes: copy them first.
    const auto views = base.schema_names();
    const std::vector<std::string> all(views.begin(), views.end());
    for (const std::string& name : all) {
      if (auto imported = import_schema(context.store, name, base); !imported) return imported;
    }
  } else {
    for (const std::string_view name : target.schemas) {
      if (auto imported = import_schema(context.store, name, base); !imported) return imported;
    }
  }

  merge_map_weak(context.store, base);
  // Schemas found complete stay complete (values are never removed), so
  // each is checked once per declaration, not at every later derive.
  auto complete = validate_schemas_completeness_for(context.store, held);
  if (complete) context.store.mark_verified(held_before);
  return complete;
}

}  // namespace vyrl
