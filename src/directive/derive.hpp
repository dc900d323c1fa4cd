#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "statement/directive_arguments.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

class Store;
namespace detail {
class ModelRecorder;
}

// Moves the schema `name` out of `base` into `store` unless `store` has one
// of that name, with the aliases its fields name (never replacing one here).
Status import_schema(Store& store, std::string_view name, Store& base, detail::ModelRecorder* recorder = nullptr);

// Moves every value of `base` whose key `store` lacks; base's values end empty.
void merge_map_weak(Store& store, Store& base);

// Fails with the first required field, of the named schemas in order, that
// has no value in `store`. Names without a schema are skipped.
Status validate_schemas_completeness_for(const Store& store, std::span<const std::string> schema_names);

}  // namespace vyrl
