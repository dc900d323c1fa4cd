#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "support/hash.hpp"

namespace vyrl {

// A schema declared by @schema: field name -> type name, plus the optional ones.
// Once stored, a schema never changes; a new declaration replaces it whole.
struct SchemaDef {
  // Views into `text`, which holds every name once: declaring a schema makes
  // one copy of its names, not two strings per field.
  ViewMap fields;
  ViewSet optional_fields;

  // Positions in `fields` of the required fields, so that checking an object
  // or a document costs one probe per required field, not one per declared
  // field. Filled by seal() once the fields are final.
  std::vector<std::uint32_t> required;

  std::unique_ptr<char[]> text;

  // The schema of `declared`, fields in the order written, each with `name`,
  // `type` and `mark` (empty for a required field). A repeated field takes the
  // later type but keeps an earlier optional mark.
  template <class Fields>
  static SchemaDef declare(const Fields& declared);

  void seal();
};

template <class Fields>
SchemaDef SchemaDef::declare(const Fields& declared) {
  std::size_t bytes = 0;
  for (const auto& field : declared) bytes += field.name.size() + field.type.size();
  SchemaDef schema;
  schema.text = std::make_unique_for_overwrite<char[]>(bytes);
  schema.fields.reserve(declared.size());
  char* end = schema.text.get();
  const auto keep = [&end](std::string_view name) {
    if (!name.empty()) std::memcpy(end, name.data(), name.size());
    const std::string_view kept(end, name.size());
    end += name.size();
    return kept;
  };
  for (const auto& field : declared) {
    const auto [entry, added] = schema.fields.try_emplace(keep(field.name), std::string_view());
    entry->second = keep(field.type);
    if (!field.mark.empty()) schema.optional_fields.insert(entry->first);
  }
  return schema;
}

}  // namespace vyrl
