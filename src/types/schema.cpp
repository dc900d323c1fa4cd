#include "types/schema.hpp"

namespace vyrl {

void SchemaDef::seal() {
  required.clear();
  required.reserve(fields.size() - optional_fields.size());
  if (optional_fields.empty()) {
    // Most schemas mark no field optional; then no name needs looking up.
    for (std::uint32_t position = 0; position < fields.size(); ++position) required.push_back(position);
    return;
  }
  for (std::uint32_t position = 0; position < fields.size(); ++position) {
    if (!optional_fields.contains(fields.begin()[position].first)) required.push_back(position);
  }
}

}  // namespace vyrl
