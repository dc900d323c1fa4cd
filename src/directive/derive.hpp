#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"

namespace vyrl {

class Store;

inline constexpr std::string_view kDeriveDirective = "derive";

// What a derive line asks for: the base file and the schemas to take from it
// (none selected means all of them). Views into the argument text.
struct DeriveTarget {
  std::string_view path;
  std::vector<std::string_view> schemas;
};

// Accepts `path`, `path::A::B`, `"path" A::B`, `"path"::A` and `'path':A :: B`.
DeriveTarget split_derive_arguments(std::string_view arguments);

// Moves the schema `name` out of `base` into `store` unless `store` has one
// of that name, with the aliases its fields name (never replacing one here).
Status import_schema(Store& store, std::string_view name, Store& base);

// Moves every value of `base` whose key `store` lacks; base's values end empty.
void merge_map_weak(Store& store, Store& base);

// Fails with the first required field, of the named schemas in order, that
// has no value in `store`. Names without a schema are skipped.
Status validate_schemas_completeness_for(const Store& store, std::span<const std::string> schema_names);

}  // namespace vyrl
