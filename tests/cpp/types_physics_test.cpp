#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/physics.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Member = PhysicsTypes::Member;

TEST(PhysicsTypesTest, TableHoldsTheUnitsInDeclaredOrder) {
  ASSERT_EQ(kPhysicsUnits.size(), 130u);
  EXPECT_EQ(kPhysicsUnits.front().name, "meter");
  EXPECT_EQ(kPhysicsUnits[120].name, "dalton");
  EXPECT_EQ(kPhysicsUnits.back().name, "horsepower");
  std::vector<std::size_t> integers;
  for (std::size_t i = 0; i < kPhysicsUnits.size(); ++i) {
    if (kPhysicsUnits[i].kind == UnitKind::Integer) integers.push_back(i);
  }
  EXPECT_EQ(integers, (std::vector<std::size_t>{73, 121, 122}));  // bit, byte, baud
}

// Every canonical name must be reachable, also when shouted or split with "_" and "-".
TEST(PhysicsTypesTest, EveryUnitResolvesUnderEachSpelling) {
  for (std::size_t i = 0; i < kPhysicsUnits.size(); ++i) {
    const std::string canonical(kPhysicsUnits[i].name);
    std::string shouted;
    for (const char c : canonical) {
      if (c >= 'A' && c <= 'Z') shouted += '_';
      shouted += static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
    for (const std::string& spelling : {canonical, shouted, "-" + canonical + "_"}) {
      const auto found = PhysicsTypes::from_name(spelling);
      ASSERT_TRUE(found) << spelling;
      EXPECT_EQ(static_cast<std::size_t>(found->member()), i) << spelling;
      EXPECT_EQ(found->name(), canonical);
    }
  }
}

TEST(PhysicsTypesTest, NameMatchingIgnoresCaseDashesAndUnderscoresOnly) {
  const std::vector<std::pair<std::string, Member>> known = {
      {"KiloGram_Per_Cubic-Meter", Member::kilogramPerCubicMeter},
      {"atomic_mass_unit", Member::dalton},
      {"\xE2\x84\xAA" "elvin", Member::kelvin},  // U+212A KELVIN SIGN lower-cases to "k"
      // Separators do not count against the longest possible name.
      {std::string(200, '_') + "joule_Per_Kilogram_Kelvin" + std::string(200, '-'), Member::joulePerKilogramKelvin},
  };
  for (const auto& [name, member] : known) {
    const auto found = PhysicsTypes::from_name(name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(found->member(), member) << name;
  }
  const std::vector<std::string_view> unknown = {
      "meters", "metre", "m", "", "meter per second", "m/s", "knot", "diopter", "atomic mass unit",
      "\xC3\xA9meter",           // a letter outside ASCII folds to nothing ASCII
      "\xE2\x84\xAB" "ngstrom",  // U+212B ANGSTROM SIGN lower-cases to a letter outside ASCII
      "joulePerKilogramKelvinX", "meterpersecondmeterpersecondmeterpersecond",
  };
  for (const std::string_view name : unknown) {
    EXPECT_EQ(error_message(PhysicsTypes::from_name(name)), "Key not found: '" + std::string(name) + "'");
  }
}

struct ValueCase {
  std::string_view unit;
  std::string_view value;
  std::string expected;  // empty means accepted
};

TEST(PhysicsTypesTest, ValidatesValuesByKindWithTheCanonicalName) {
  const std::vector<ValueCase> cases = {
      {"byte", "1024", ""}, {"byte", "-1", ""}, {"byte", "+8", ""},
      {"byte", "1.5", "Invalid value: Expected integer for unit byte, got '1.5'"},
      {"byte", "4294967296", "Invalid value: Expected integer for unit byte, got '4294967296'"},
      {"BAUD", "1e3", "Invalid value: Expected integer for unit baud, got '1e3'"},
      {"meter", "9.81", ""}, {"meter", "1e-9", ""}, {"meter", "nan", ""}, {"celsius", "-300", ""},
      {"meter", "5 m", "Invalid value: Expected number for unit meter, got '5 m'"},
      {"atomicmassunit", "x", "Invalid value: Expected number for unit dalton, got 'x'"},
      {"Meter_Per_Second", "", "Invalid value: Expected number for unit meterPerSecond, got ''"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.unit) + " " + std::string(c.value));
    const auto unit = PhysicsTypes::from_name(c.unit);
    ASSERT_TRUE(unit);
    const auto result = unit->validate(c.value, detail::store_of(document));
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
  }
}

}  // namespace
}  // namespace vyrl
