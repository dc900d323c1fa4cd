#pragma once

#include <string_view>

#include "vyrl/error.hpp"
#include "types/type.hpp"

namespace vyrl {

// Turns a built-in type name (list<T>, a primitive, math::, time::, physics::)
// into a new type object; anything else is NotFound. Knows nothing of documents.
Result<TypePtr> resolve_builtin(std::string_view name);

}  // namespace vyrl
