#include "types/schema.hpp"

namespace vyrl {

void SchemaDef::seal() {
  required.clear();
  required.reserve(fields.size() - optional_fields.size());
  for (std::uint32_t position = 0; position < fields.size(); ++position) {
    if (!optional_fields.contains(fields.begin()[position].first)) required.push_back(position);
  }
}

}  // namespace vyrl
