#include <string>

#include "commands/derive.hpp"
#include "types/list.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

std::string schema_not_found(std::string_view name) { return "Schema '" + std::string(name) + "' not found"; }

}  // namespace

// Entries travel between documents as map nodes, so no key or value text is copied.

Status VYRL::import_schema(std::string_view name, VYRL& base) {
  const auto found = base.schemas_.find(name);
  if (found == base.schemas_.end()) {
    return fail(VyrlError::directive(std::string(kDeriveDirective), schema_not_found(name)));
  }
  auto schema = base.schemas_.extract(found);

  // The aliases come along even when this document keeps its own schema of
  // that name; an alias already here is never replaced.
  for (const auto& [field, type_name] : schema.mapped().fields) {
    const std::string_view alias = ListType::parse_inner(type_name).value_or(type_name);
    const auto aliased = base.types_.find(alias);
    if (aliased == base.types_.end()) continue;
    types_.insert(base.types_.extract(aliased));
  }

  // Refused, and dropped, when one is already here.
  if (const auto inserted = schemas_.insert(std::move(schema)); inserted.inserted) {
    index_fields(inserted.position->first, inserted.position->second);
  }
  return {};
}

void VYRL::merge_map_weak(VYRL& base) {
  values_.reserve(values_.size() + base.values_.size());
  // A node whose key is already here is refused by insert() and dropped with the
  // handle it returns, which is the weak rule.
  while (!base.values_.empty()) values_.insert(base.values_.extract(base.values_.begin()));
}

}  // namespace vyrl
