#include "types/resolve.hpp"

namespace vyrl {

Result<TypePtr> resolve_builtin(std::string_view name) { return fail(VyrlError::not_found(std::string(name))); }

}  // namespace vyrl
