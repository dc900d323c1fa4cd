#include "types/families.hpp"

#include <memory>

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

Result<TypePtr> resolve_primitive(std::string_view name) { return owned(PrimitiveType::from_name(name)); }
Result<TypePtr> resolve_time(std::string_view member) { return owned(TimeTypes::from_name(member)); }
Result<TypePtr> resolve_physics(std::string_view member) { return owned(PhysicsTypes::from_name(member)); }

Result<TypePtr> resolve_math(std::string_view member) {
  for (std::size_t i = 0; i < kMathMembers.size(); ++i) {
    if (kMathMembers[i].type_name == member) {
      return std::make_unique<MathTypes>(static_cast<MathTypes::Member>(i));
    }
  }
  return fail(VyrlError::not_found(member));
}

std::vector<TypeFamily::Member> primitive_members() {
  std::vector<TypeFamily::Member> members;
  for (const auto member : {PrimitiveType::Member::I32, PrimitiveType::Member::F64, PrimitiveType::Member::String,
                            PrimitiveType::Member::Bool, PrimitiveType::Member::Color}) {
    members.push_back({std::string(PrimitiveType(member).name()), {}});
  }
  return members;
}

std::vector<TypeFamily::Member> time_members() {
  std::vector<TypeFamily::Member> members;
  for (const TimeMemberInfo& member : kTimeMembers) members.push_back({std::string(member.type_name), {}});
  return members;
}

std::vector<TypeFamily::Member> math_members() {
  std::vector<TypeFamily::Member> members;
  for (const MathMemberInfo& member : kMathMembers) members.push_back({std::string(member.type_name), {}});
  return members;
}

std::vector<TypeFamily::Member> physics_members() {
  std::vector<TypeFamily::Member> members;
  for (const PhysicsUnit& unit : kPhysicsUnits) {
    TypeFamily::Member member{std::string(unit.name), {}};
    if (unit.name == "dalton") member.aliases.push_back("atomicmassunit");
    members.push_back(std::move(member));
  }
  return members;
}

}  // namespace

const std::array<TypeFamily, 4> kTypeFamilies{{
    {"primitive", "", resolve_primitive, primitive_members},
    {"time", "time::", resolve_time, time_members},
    {"math", "math::", resolve_math, math_members},
    {"physics", "physics::", resolve_physics, physics_members},
}};

const TypeFamily* family_of(std::string_view name) noexcept {
  const std::size_t separator = name.find(kFamilySeparator);
  if (separator == std::string_view::npos) return &kTypeFamilies[0];
  // Only the first "::" splits; "physics::meter::x" asks the physics family for "meter::x".
  const std::string_view prefix = name.substr(0, separator + kFamilySeparator.size());
  for (const TypeFamily& family : kTypeFamilies) {
    if (!family.prefix.empty() && family.prefix == prefix) return &family;
  }
  return nullptr;
}

}  // namespace vyrl
