// Loads arbitrary UTF-8 text twice, once plain and once recording a model,
// and holds the model to the document: its first error is the plain load's,
// and a text that loads has the model's winners, schemas and aliases.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/internals.hpp"
#include "reachable_files.hpp"
#include "scratch.hpp"
#include "text/text.hpp"
#include "types/type_definition.hpp"
#include "vyrl/document.hpp"
#include "vyrl/model.hpp"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vyrl::fuzz::enter_scratch_directory(argc, argv);
  vyrl::fuzz::write_reachable_files();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vyrl::is_valid_utf8(text) || vyrl::fuzz::may_reach_outside(text)) return -1;

  vyrl::Model model;
  vyrl::Options options;
  options.model = &model;
  const auto plain = vyrl::VYRL::parse(text);
  const auto recorded = vyrl::VYRL::parse(text, options);
  if (plain.has_value() != recorded.has_value()) __builtin_trap();
  if (!plain) {
    if (model.errors().empty()) __builtin_trap();
    for (const vyrl::VyrlError* error : {&recorded.error(), &model.errors()[0]}) {
      if (error->message() != plain.error().message() || error->frames() != plain.error().frames()) __builtin_trap();
    }
    return 0;
  }
  if (!model.errors().empty()) __builtin_trap();

  const vyrl::Store& store = vyrl::detail::store_of(*plain);
  if (model.keys().size() != plain->size()) __builtin_trap();
  for (const auto& [key, value] : plain->entries()) {
    const vyrl::Model::Key* recorded_key = model.key(key);
    if (recorded_key == nullptr || model.winner(*recorded_key).value != value) __builtin_trap();
  }
  std::size_t schemas_in_effect = 0;
  for (const vyrl::Model::Schema& schema : model.schemas()) {
    if (model.schema(schema.name) != &schema) continue;
    ++schemas_in_effect;
    const vyrl::SchemaDef* stored = store.schema(schema.name);
    if (stored == nullptr || stored->fields.size() != schema.fields.size()) __builtin_trap();
    for (const vyrl::Model::Field& field : schema.fields) {
      const auto found = stored->fields.find(field.name);
      if (found == stored->fields.end() || found->second != field.type_name ||
          stored->optional_fields.contains(field.name) != field.optional) {
        __builtin_trap();
      }
    }
  }
  if (schemas_in_effect != store.schema_names().size()) __builtin_trap();
  std::size_t aliases_in_effect = 0;
  for (const vyrl::Model::Alias& alias : model.aliases()) {
    if (model.alias(alias.name) != &alias) continue;
    ++aliases_in_effect;
    const auto* stored = dynamic_cast<const vyrl::TypeDefinition*>(store.alias(alias.name));
    if (stored == nullptr || stored->definition() != alias.definition) __builtin_trap();
  }
  if (aliases_in_effect != store.types().size()) __builtin_trap();
  return 0;
}
