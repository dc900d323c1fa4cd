#include "types/families.hpp"

#include <cstdint>
#include <memory>
#include <string>

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

// Members are listed in the order of each family's Member enumeration, so
// that a resolved member's enumerator is its position.
template <class Family>
std::size_t position_of(Result<Family> found) {
  return found ? static_cast<std::size_t>(found->member()) : SIZE_MAX;
}

std::vector<TypeFamily::Member> primitive_members() {
  std::vector<TypeFamily::Member> members;
  for (const auto member : {PrimitiveType::Member::I32, PrimitiveType::Member::F64, PrimitiveType::Member::String,
                            PrimitiveType::Member::Bool, PrimitiveType::Member::Color}) {
    members.push_back({std::string(PrimitiveType(member).name()), {}, {}});
  }
  members[0].description = "whole numbers from -2147483648 to 2147483647";
  members[1].description = "numbers, with a fraction or an exponent if need be, and `inf` or `NaN`";
  members[2].description = "any text, the empty one included";
  members[3].description = "`true`, `false`, `1` or `0`, in any letter case";
  members[4].description = "`#RRGGBB` or `#RRGGBBAA` in hex";
  return members;
}

std::vector<TypeFamily::Member> time_members() {
  std::vector<TypeFamily::Member> members;
  for (const TimeMemberInfo& member : kTimeMembers) {
    std::string description = "a number";
    if (member.type_name == "datetime") description = "a date starting `YYYY-MM-DD`, a time may follow";
    if (member.type_name == "duration") description = "`P...` as in `PT2H30M`, or a number";
    members.push_back({std::string(member.type_name), {}, std::move(description)});
  }
  return members;
}

std::vector<TypeFamily::Member> math_members() {
  std::vector<TypeFamily::Member> members;
  for (const MathMemberInfo& member : kMathMembers) {
    // A matrix is written as one row all the same.
    const bool matrix = member.type_name.starts_with("matrix");
    members.push_back({std::string(member.type_name), {},
                       std::to_string(member.components) + " numbers" + (matrix ? " in one row" : "") +
                           ", separated by commas"});
  }
  return members;
}

std::vector<TypeFamily::Member> physics_members() {
  std::vector<TypeFamily::Member> members;
  for (const PhysicsUnit& unit : kPhysicsUnits) {
    TypeFamily::Member member{std::string(unit.name), {},
                              unit.kind == UnitKind::Integer ? "a whole number, without a unit symbol"
                                                             : "a number, without a unit symbol"};
    if (unit.name == "dalton") member.aliases.push_back("atomicmassunit");
    members.push_back(std::move(member));
  }
  return members;
}

std::size_t primitive_position(std::string_view name) { return position_of(PrimitiveType::from_name(name)); }
std::size_t time_position(std::string_view member) { return position_of(TimeTypes::from_name(member)); }
std::size_t physics_position(std::string_view member) { return position_of(PhysicsTypes::from_name(member)); }

std::size_t math_position(std::string_view member) {
  for (std::size_t i = 0; i < kMathMembers.size(); ++i) {
    if (kMathMembers[i].type_name == member) return i;
  }
  return SIZE_MAX;
}

}  // namespace

const std::array<TypeFamily, 4> kTypeFamilies{{
    {"primitive", "", resolve_primitive, primitive_members, primitive_position},
    {"time", "time::", resolve_time, time_members, time_position},
    {"math", "math::", resolve_math, math_members, math_position},
    {"physics", "physics::", resolve_physics, physics_members, physics_position},
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
