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
  // Names cut from one text in order lie in one span with little between
  // them; that span is copied whole, and the names are views into the copy.
  const char* span_begin = nullptr;
  const char* span_end = nullptr;
  bool in_order = !declared.empty();
  for (const auto& field : declared) {
    if (field.name.empty() || field.type.empty() || (span_end != nullptr && field.name.data() < span_end) ||
        field.type.data() < field.name.data() + field.name.size()) {
      in_order = false;
      break;
    }
    if (span_begin == nullptr) span_begin = field.name.data();
    span_end = field.type.data() + field.type.size();
  }
  const std::size_t span = in_order ? static_cast<std::size_t>(span_end - span_begin) : 0;
  const bool whole = in_order && span <= 2 * bytes;
  SchemaDef schema;
  schema.text = std::make_unique_for_overwrite<char[]>(whole ? span : bytes);
  schema.fields.reserve(declared.size());
  char* end = schema.text.get();
  if (whole) std::memcpy(end, span_begin, span);
  const auto keep = [&](std::string_view name) {
    if (whole) return std::string_view(schema.text.get() + (name.data() - span_begin), name.size());
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
