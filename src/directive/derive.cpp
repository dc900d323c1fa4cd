#include "vyrl/error.hpp"
#include "directive/derive.hpp"

#include <span>
#include <string>

#include "directive/directive.hpp"
#include "model/recorder.hpp"
#include "store/store.hpp"
#include "text/text.hpp"
#include "types/list.hpp"

namespace vyrl {
namespace {

VyrlError refuse_derive(std::string reason) {
  return VyrlError::directive(std::string(directive_name(DirectiveKind::derive)), std::move(reason));
}

std::string schema_not_found(std::string_view name) { return "Schema '" + excerpt(name) + "' not found"; }

}  // namespace

Status import_schema(Store& store, std::string_view name, Store& base, detail::ModelRecorder* recorder) {
  auto schema = base.take_schema(name);
  if (!schema) return fail(refuse_derive(schema_not_found(name)));
  // The aliases come along even when this document keeps its own schema of
  // that name; an alias already here is never replaced.
  for (const auto& [field, type_name] : schema->fields) {
    const std::string_view alias = ListType::parse_inner(type_name).value_or(type_name);
    if (TypePtr definition = base.take_type(alias)) {
      store.insert_type_if_absent(std::string(alias), std::move(definition));
      if (recorder != nullptr) recorder->took_alias(store, base, alias);
    }
  }
  store.insert_schema_if_absent(std::string(name), std::move(*schema));
  if (recorder != nullptr) recorder->took_schema(store, base, name);
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

namespace {

// What a @derive line may add to this document, noted before it adds anything:
// when memory runs out half-way, exactly the names that were absent are taken
// out again, so the line has either done all its copying or none of it.
class DeriveUndo {
 public:
  DeriveUndo(const Store& store, const Store& base, std::span<const std::string> schemas)
      : values_before_(store.values().size()) {
    for (const std::string& name : schemas) {
      const SchemaDef* schema = base.schema(name);
      if (schema == nullptr) continue;
      if (store.schema(name) == nullptr) absent_schemas_.push_back(name);
      for (const auto& [field, type_name] : schema->fields) {
        const std::string_view alias = ListType::parse_inner(type_name).value_or(type_name);
        if (store.alias(alias) == nullptr && base.alias(alias) != nullptr) absent_aliases_.emplace_back(alias);
      }
    }
  }

  void undo(Store& store) const noexcept {
    store.drop_values_from(values_before_);
    for (const std::string& name : absent_schemas_) store.take_schema(name);
    for (const std::string& name : absent_aliases_) store.take_type(name);
  }

 private:
  std::size_t values_before_;
  std::vector<std::string> absent_schemas_;
  std::vector<std::string> absent_aliases_;
};

Status take_from_base(Store& store, Store& base, std::span<const std::string> names, detail::ModelRecorder* recorder) {
  for (const std::string& name : names) {
    if (auto imported = import_schema(store, name, base, recorder); !imported) return imported;
  }
  if (recorder != nullptr) recorder->taking_missing_values(store, base);
  merge_map_weak(store, base);
  if (recorder != nullptr) recorder->took_missing_values(store);
  return {};
}

}  // namespace

// @derive path[::Schema...]: loads a base file into a store of its own and
// takes from it what this document lacks (schemas, the aliases they use, keys),
// never replacing anything already here; then checks that the schemas held
// before this line are complete.
Status execute_derive(const DirectiveContext& context, std::string_view arguments) {
  const DeriveTarget target = split_derive_arguments(arguments);
  Store base;
  // What a model knew of the base goes with it.
  struct Forget {
    detail::ModelRecorder* recorder;
    const Store& base;
    ~Forget() {
      if (recorder != nullptr) recorder->forget(base);
    }
  } forget{context.recorder, base};
  auto loaded = context.nested.load_file(base, {target.path, Frame::Origin::derived});
  if (!loaded) {
    return fail(refuse_derive(nested_refusal_reason(loaded.error(), target.path)));
  }
  if (!*loaded) return std::move(*loaded);

  // Only the schemas held before this line must be complete; those arriving
  // from the base answer to the base file.
  const std::uint64_t held_before = context.store.completeness_mark();
  const std::vector<std::string> held = context.store.unverified_schemas(held_before);

  std::vector<std::string> names;
  if (target.schemas.empty()) {
    // Copies, not views into base's registry, which each import changes.
    for (const std::string_view name : base.schema_names()) names.emplace_back(name);
  } else {
    names.assign(target.schemas.begin(), target.schemas.end());
  }
  const DeriveUndo undo(context.store, base, names);
  try {
    if (auto taken = take_from_base(context.store, base, names, context.recorder); !taken) return taken;
  } catch (...) {
    undo.undo(context.store);
    throw;
  }
  // Schemas found complete stay complete (values are never removed), so
  // each is checked once per declaration, not at every later derive.
  auto complete = validate_schemas_completeness_for(context.store, held);
  if (complete) context.store.mark_verified(held_before);
  return complete;
}

}  // namespace vyrl
