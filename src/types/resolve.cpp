#include "types/resolve.hpp"

#include <memory>
#include <string>

#include "types/families.hpp"
#include "types/list.hpp"

namespace vyrl {

Result<TypePtr> resolve_builtin(std::string_view name) {
  // The list form is recognised on the trimmed name; every other form is matched
  // exactly as written, so " i32" is not a type.
  if (const auto element = ListType::parse_inner(name)) return std::make_unique<ListType>(std::string(*element));
  const TypeFamily* family = family_of(name);
  if (family == nullptr) return fail(VyrlError::not_found(name));
  return family->resolve(name.substr(family->prefix.size()));
}

}  // namespace vyrl
