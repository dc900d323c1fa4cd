#include "types/resolve.hpp"

#include <memory>
#include <string>

#include "types/list.hpp"
#include "types/math.hpp"
#include "types/physics.hpp"
#include "types/primitive_type.hpp"
#include "types/time.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kFamilySeparator = "::";

template <class Family>
Result<TypePtr> owned(Result<Family> found) {
  if (!found) return fail(std::move(found.error()));
  return std::make_unique<Family>(*found);
}

Result<TypePtr> resolve_math(std::string_view member) {
  for (std::size_t i = 0; i < kMathMembers.size(); ++i) {
    if (kMathMembers[i].type_name == member) {
      return std::make_unique<MathTypes>(static_cast<MathTypes::Member>(i));
    }
  }
  return fail(VyrlError::not_found(std::string(member)));
}

}  // namespace

Result<TypePtr> resolve_builtin(std::string_view name) {
  // The list form is recognised on the trimmed name; every other form is matched
  // exactly as written, so " i32" is not a type.
  if (const auto element = ListType::parse_inner(name)) return std::make_unique<ListType>(std::string(*element));

  const std::size_t separator = name.find(kFamilySeparator);
  if (separator == std::string_view::npos) return owned(PrimitiveType::from_name(name));

  // Only the first "::" splits; "physics::meter::x" asks the physics family for "meter::x".
  const std::string_view prefix = name.substr(0, separator);
  const std::string_view rest = name.substr(separator + kFamilySeparator.size());
  if (prefix == "math") return resolve_math(rest);
  if (prefix == "time") return owned(TimeTypes::from_name(rest));
  if (prefix == "physics") return owned(PhysicsTypes::from_name(rest));
  return fail(VyrlError::not_found(std::string(name)));
}

}  // namespace vyrl
