#include "types/quick_check.hpp"

#include <array>
#include <utility>

#include "literal/literal.hpp"
#include "text/ascii.hpp"
#include "text/text.hpp"
#include "types/list.hpp"
#include "types/math.hpp"
#include "types/physics.hpp"
#include "types/primitive_type.hpp"
#include "types/number_syntax.hpp"
#include "types/families.hpp"
#include "types/time.hpp"

namespace vyrl {
namespace {

using Kind = QuickCheck::Kind;

constexpr bool is_hex(char c) noexcept {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

bool is_color(std::string_view value) noexcept {
  if ((value.size() != 7 && value.size() != 9) || value.front() != '#') return false;
  for (std::size_t i = 1; i < value.size(); ++i) {
    if (!is_hex(value[i])) return false;
  }
  return true;
}

bool is_bool(std::string_view value) noexcept {
  if (value.size() == 1) return value[0] == '0' || value[0] == '1';
  return equals_ignoring_ascii_case(value, "true") || equals_ignoring_ascii_case(value, "false");
}

bool is_date(std::string_view value) noexcept {
  if (value.size() < 10 || value[4] != '-' || value[7] != '-') return false;
  for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (value[i] < '0' || value[i] > '9') return false;
  }
  return true;
}

// Every comma-separated piece a number, and exactly `count` of them.
bool is_components(std::string_view value, std::size_t count) noexcept {
  std::size_t pieces = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = value.find(',', start);
    if (!is_number_syntax(trim(value.substr(start, comma - start)))) return false;
    ++pieces;
    if (comma == std::string_view::npos) return pieces == count;
    start = comma + 1;
  }
}

bool scalar_accepts(Kind kind, std::size_t components, std::string_view value) noexcept {
  switch (kind) {
    case Kind::Any: return true;
    case Kind::I32: return is_i32_syntax(value);
    case Kind::Number: return is_number_syntax(value);
    case Kind::Bool: return is_bool(value);
    case Kind::Color: return is_color(value);
    case Kind::Date: return is_date(value);
    case Kind::Duration: return value.starts_with('P') || is_number_syntax(value);
    case Kind::Components: return is_components(value, components);
    case Kind::Full:
    case Kind::List: return false;
  }
  return false;
}

template <class T, std::size_t... I>
std::array<T, sizeof...(I)> every_member(std::index_sequence<I...>) {
  return {T(static_cast<typename T::Member>(I))...};
}

template <class T, std::size_t N>
const T& shared(typename T::Member member) {
  static const std::array<T, N> all = every_member<T>(std::make_index_sequence<N>{});
  return all[static_cast<std::size_t>(member)];
}

QuickCheck primitive_quick_check(PrimitiveType::Member member) noexcept {
  switch (member) {
    case PrimitiveType::Member::I32: return {Kind::I32};
    case PrimitiveType::Member::F64: return {Kind::Number};
    case PrimitiveType::Member::String: return {Kind::Any};
    case PrimitiveType::Member::Bool: return {Kind::Bool};
    case PrimitiveType::Member::Color: return {Kind::Color};
  }
  return {};
}

QuickCheck time_quick_check(TimeTypes::Member member) noexcept {
  if (member == TimeTypes::Member::Datetime) return {Kind::Date};
  if (member == TimeTypes::Member::Duration) return {Kind::Duration};
  return {Kind::Number};
}

}  // namespace

bool QuickCheck::accepts(std::string_view value) const noexcept {
  if (kind != Kind::List) return scalar_accepts(kind, components, value);
  const auto body = wrapped_body(value, '[', ']');
  if (!body) return false;
  return for_each_list_item(*body, [this](std::string_view each) { return scalar_accepts(item, components, each); });
}

BuiltinScalar builtin_scalar(std::string_view name) {
  if (ListType::parse_inner(name)) return {};
  const TypeFamily* family = family_of(name);
  if (family == nullptr) return {};
  const std::string_view member = name.substr(family->prefix.size());
  if (family == &kTypeFamilies[0]) {
    const auto found = PrimitiveType::from_name(member);
    if (!found) return {};
    return {&shared<PrimitiveType, 5>(found->member()), primitive_quick_check(found->member())};
  }
  if (family == &kTypeFamilies[1]) {
    const auto found = TimeTypes::from_name(member);
    if (!found) return {};
    return {&shared<TimeTypes, kTimeMembers.size()>(found->member()), time_quick_check(found->member())};
  }
  if (family == &kTypeFamilies[2]) {
    for (std::size_t i = 0; i < kMathMembers.size(); ++i) {
      if (kMathMembers[i].type_name != member) continue;
      const auto math = static_cast<MathTypes::Member>(i);
      return {&shared<MathTypes, kMathMembers.size()>(math),
              {Kind::Components, Kind::Full, static_cast<std::uint8_t>(kMathMembers[i].components)}};
    }
    return {};
  }
  const auto found = PhysicsTypes::from_name(member);
  if (!found) return {};
  return {&shared<PhysicsTypes, kPhysicsUnits.size()>(found->member()),
          {found->kind() == UnitKind::Integer ? Kind::I32 : Kind::Number}};
}

}  // namespace vyrl
