#include "vyrl/error.hpp"
#include "types/physics.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "text/ascii.hpp"
#include "types/number_syntax.hpp"

namespace vyrl {
namespace {

// The one name accepted besides the canonical ones, already normalised.
constexpr std::string_view kDaltonAlias = "atomicmassunit";

constexpr std::size_t longest_unit_name() {
  std::size_t longest = kDaltonAlias.size();
  for (const PhysicsUnit& unit : kPhysicsUnits) longest = std::max(longest, unit.name.size());
  return longest;
}

// A name that normalises to anything longer cannot be a unit, so a fixed buffer
// of this size suffices and lookups never allocate.
constexpr std::size_t kNormalisedCapacity = longest_unit_name();

// The canonical names folded the way a looked-up name is, and the units grouped
// by name length, so a lookup compares whole names only within one length.
// Both are built by the compiler; nothing is set up at run time.
struct NameIndex {
  std::array<std::array<char, kNormalisedCapacity>, kPhysicsUnits.size()> folded{};
  std::array<std::uint8_t, kPhysicsUnits.size()> by_length{};  // unit positions, shortest names first
  std::array<std::size_t, kNormalisedCapacity + 2> first{};      // first entry in by_length per length
};

constexpr NameIndex build_name_index() {
  static_assert(kPhysicsUnits.size() <= 256, "unit positions are kept in one byte");
  NameIndex index;
  for (std::size_t unit = 0; unit < kPhysicsUnits.size(); ++unit) {
    const std::string_view name = kPhysicsUnits[unit].name;
    for (std::size_t i = 0; i < name.size(); ++i) index.folded[unit][i] = ascii_lower(name[i]);
  }
  std::size_t next = 0;
  for (std::size_t length = 0; length <= kNormalisedCapacity; ++length) {
    index.first[length] = next;
    for (std::size_t unit = 0; unit < kPhysicsUnits.size(); ++unit) {
      if (kPhysicsUnits[unit].name.size() == length) index.by_length[next++] = static_cast<std::uint8_t>(unit);
    }
  }
  index.first[kNormalisedCapacity + 1] = next;
  return index;
}

constexpr NameIndex kNameIndex = build_name_index();

// U+212A KELVIN SIGN, the only character outside ASCII whose lower-case form is
// ASCII on its own ("k"); every other non-ASCII character keeps the name unknown.
constexpr std::string_view kKelvinSign = "\xE2\x84\xAA";

std::string expected_integer(std::string_view unit, std::string_view value) {
  return "Expected integer for unit " + std::string(unit) + ", got '" + excerpt(value) + "'";
}

std::string expected_number(std::string_view unit, std::string_view value) {
  return "Expected number for unit " + std::string(unit) + ", got '" + excerpt(value) + "'";
}

}  // namespace

Result<PhysicsTypes> PhysicsTypes::from_name(std::string_view name) {
  char buffer[kNormalisedCapacity];
  std::size_t length = 0;
  auto unknown = [name] { return fail(VyrlError::not_found(std::string(name))); };

  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '-' || c == '_') continue;
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (name.substr(i, kKelvinSign.size()) != kKelvinSign) return unknown();
      c = 'k';
      i += kKelvinSign.size() - 1;
    } else {
      c = ascii_lower(c);
    }
    if (length == kNormalisedCapacity) return unknown();
    buffer[length++] = c;
  }

  const std::string_view normalised(buffer, length);
  for (std::size_t entry = kNameIndex.first[length]; entry < kNameIndex.first[length + 1]; ++entry) {
    const std::uint8_t unit = kNameIndex.by_length[entry];
    if (std::string_view(kNameIndex.folded[unit].data(), length) == normalised) {
      return PhysicsTypes(static_cast<Member>(unit));
    }
  }
  if (normalised == kDaltonAlias) return PhysicsTypes(Member::dalton);
  return unknown();
}

std::string_view PhysicsTypes::name() const noexcept { return kPhysicsUnits[static_cast<std::size_t>(member_)].name; }

UnitKind PhysicsTypes::kind() const noexcept { return kPhysicsUnits[static_cast<std::size_t>(member_)].kind; }

PrimitiveType PhysicsTypes::base_type() const {
  return PrimitiveType(kind() == UnitKind::Integer ? PrimitiveType::Member::I32 : PrimitiveType::Member::F64);
}

Status PhysicsTypes::validate(std::string_view value, const TypeScope& /*scope*/) const {
  if (kind() == UnitKind::Integer) {
    if (!is_i32_syntax(value)) return fail(VyrlError::invalid_value(expected_integer(name(), value)));
    return {};
  }
  if (!is_number_syntax(value)) return fail(VyrlError::invalid_value(expected_number(name(), value)));
  return {};
}

}  // namespace vyrl
