#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "commands/command.hpp"
#include "error/error.hpp"
#include "found_value/found_value.hpp"
#include "types/type.hpp"
#include "vyrl/registry.hpp"

namespace vyrl {

class TypeDefinition;

// A schema declared by @schema: field name -> type name, plus the optional ones.
struct SchemaDef {
  Registry<std::string> fields;
  NameSet optional_fields;
};

// The document: what one or more merged texts declared and assigned.
class VYRL {
 public:
  // An empty document with the built-in directive handlers.
  VYRL();
  VYRL(VYRL&&) noexcept = default;
  VYRL& operator=(VYRL&&) noexcept = default;
  VYRL(const VYRL&) = delete;
  VYRL& operator=(const VYRL&) = delete;
  ~VYRL();

  // Reads a whole file and merges it into a fresh document.
  static Result<VYRL> load(std::string_view path);

  // Merges a text line by line. The first failure ends the merge; what the lines
  // before it did stays (no rollback).
  Status merge_content(std::string_view text);

  // --- Registries. ---
  const Registry<std::string>& values() const noexcept { return values_; }
  const Registry<CommandPtr>& commands() const noexcept { return commands_; }
  const Registry<TypePtr>& types() const noexcept { return types_; }
  const Registry<SchemaDef>& schemas() const noexcept { return schemas_; }

  // Last declaration wins for both.
  void register_type(std::string name, TypePtr definition);
  void register_schema(std::string name, SchemaDef schema);

  // --- @derive support: weak moves out of a temporary base document. ---
  Status import_schema(std::string_view name, VYRL& base);
  void merge_map_weak(VYRL& base);
  Status validate_schemas_completeness_for(std::span<const std::string> schema_names) const;

  // --- Validation. ---
  // Every failure is a SchemaValidationError naming `schema` and `field`.
  Status validate_typed_field(std::string_view type_name, std::string_view value, std::string_view schema,
                              std::string_view field) const;
  // Fails with NotFound for an unknown type, InvalidType for a rejected value.
  Status validate_value(std::string_view type_name, std::string_view value) const;

  // --- Lookups: read-only, never failing. ---
  std::optional<FoundValue> find_obj(std::string_view key) const;
  std::optional<FoundValue> find_key(std::string_view value) const;
  std::optional<FoundValue> find_deep(std::string_view key) const;

 private:
  Status process_stripped_line(std::string_view line, std::size_t line_number);
  Status store_assignment(std::string_view line, std::size_t line_number);
  Status run_directive(std::string_view line, std::size_t line_number);

  struct TypedKey {
    std::string_view schema;
    std::string_view type_name;
  };
  // The schema that types `key`, if any declares it.
  std::optional<TypedKey> schema_declaring(std::string_view key);
  void index_fields(const std::string& schema_name, const SchemaDef& schema);

  Registry<std::string> values_;
  Registry<CommandPtr> commands_;
  Registry<TypePtr> types_;
  Registry<SchemaDef> schemas_;
  // Field name -> a schema declaring it, so that typing a key costs one probe
  // instead of one per schema. Every schema insertion adds its fields; an entry
  // left stale by a replaced schema is repaired when it is next used.
  Registry<std::string> field_owners_;
};

}  // namespace vyrl
