#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/hash.hpp"

namespace vyrl {

// A schema declared by @schema: field name -> type name, plus the optional ones.
// Once stored, a schema never changes; a new declaration replaces it whole.
struct SchemaDef {
  Registry<std::string> fields;
  NameSet optional_fields;

  // Positions in `fields` of the required fields, so that checking an object
  // or a document costs one probe per required field, not one per declared
  // field. Filled by seal() once the fields are final.
  std::vector<std::uint32_t> required;

  void seal();
};

}  // namespace vyrl
