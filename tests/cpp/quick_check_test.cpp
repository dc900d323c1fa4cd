#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "document/internals.hpp"
#include "types/quick_check.hpp"
#include "types/validation.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using Kind = QuickCheck::Kind;

// Texts near the edges of every built-in shape: a valid value of some type,
// changed a byte or two at random, or pieces of them spliced together.
std::string random_value(std::mt19937& random) {
  static const std::vector<std::string> seeds = {
      "0", "-17", "+2147483647", "-2147483648", "2147483648", "1.5e3", "-.5", "inf", "NaN", "#A0b1C2", "#A0B1C2ff",
      "true", "FALSE", "1", "2025-03-14T06:30:00Z", "2025-03-14", "PT5M", "1, 2.5", "1,2,3", " 1 , 2 , 3 , 4 ",
      "[1, 2]", "[#FFFFFF, #000000]", "[PT1S, 3]", "[true, 0]", "[1,,2, ]", "[[1]]", "[{a=1}]", "[]", "[ , ]", "x"};
  static const std::string bytes = "0123456789+-.eE#aFgPT:, \t[]{}xn\xc3\xa9";
  std::string value = seeds[random() % seeds.size()];
  if (random() % 4 == 0) value += seeds[random() % seeds.size()];
  for (std::size_t edits = random() % 3; edits > 0; --edits) {
    const std::size_t at = value.empty() ? 0 : random() % value.size();
    const char byte = bytes[random() % bytes.size()];
    switch (random() % 3) {
      case 0: value.insert(value.begin() + static_cast<std::ptrdiff_t>(at), byte); break;
      case 1: if (!value.empty()) value.erase(at, 1); break;
      default: if (!value.empty()) value[at] = byte; break;
    }
  }
  return value;
}

// A field of each type, so that the store resolves it as a value would be.
const std::vector<std::string> kTypes = {
    "i32", "f64", "string", "bool", "color", "time::datetime", "time::duration", "time::year", "time::minute",
    "math::vector2", "math::vector3", "math::quaternion", "physics::meter", "physics::byte", "list<i32>",
    "list<f64>", "list<color>", "list<bool>", "list<string>", "list<time::duration>", "list<math::vector2>",
    "list<physics::byte>"};

std::string field_name(std::size_t i) {
  std::string name = std::to_string(i);
  name.insert(name.begin(), 'f');
  return name;
}

// The quick test against the full check, on many values of every type: a
// quick yes must be a full yes, and for these types a full yes a quick yes.
TEST(QuickCheckTest, AgreesWithTheFullCheckOnRandomValues) {
  VYRL document;
  std::string declaration = "@schema S {";
  for (std::size_t i = 0; i < kTypes.size(); ++i) declaration.append(" ").append(field_name(i)).append(": ").append(kTypes[i]).append(",");
  declaration.append(" }");
  ASSERT_TRUE(document.merge_content(declaration));
  Store& store = detail::store_of(document);
  std::mt19937 random(11);
  for (std::size_t i = 0; i < kTypes.size(); ++i) {
    SCOPED_TRACE(kTypes[i]);
    const std::string field = field_name(i);
    const auto typed = store.schema_declaring(field);
    ASSERT_TRUE(typed);
    ASSERT_NE(typed->type->quick.kind, Kind::Full);
    std::size_t accepted = 0;
    for (int round = 0; round < 4000; ++round) {
      std::string value = random_value(random);
      if (kTypes[i].starts_with("list") && round % 2 == 0) {
        const std::string second = random_value(random);
        value.insert(0, 1, '[');
        value.append(", ").append(second).push_back(']');
      }
      const bool full = validate_resolved_field(store, *typed->type, typed->type_name, value, "S", field).has_value();
      ASSERT_EQ(typed->type->quick.accepts(value), full) << "value '" << value << "'";
      accepted += full ? 1 : 0;
    }
    EXPECT_GT(accepted, 20u);  // the values reach both answers
  }
}

// A declaration that changes what a name means takes the quick test with it.
TEST(QuickCheckTest, FollowsAliasesAndSchemasDeclaredLater) {
  VYRL document;
  ASSERT_TRUE(document.merge_content("@schema S { a: i32, b: list<color> }"));
  Store& store = detail::store_of(document);
  EXPECT_EQ(store.schema_declaring("a")->type->quick.kind, Kind::I32);
  EXPECT_EQ(store.schema_declaring("b")->type->quick.kind, Kind::List);
  ASSERT_TRUE(document.merge_content("@type i32 = string\n@schema color { r: i32 }"));
  EXPECT_EQ(store.schema_declaring("a")->type->quick.kind, Kind::Full);
  EXPECT_EQ(store.schema_declaring("b")->type->quick.kind, Kind::Full);
  EXPECT_TRUE(document.merge_content("a = not a number"));
  EXPECT_FALSE(document.merge_content("b = [#FFFFFF]"));
}

}  // namespace
}  // namespace vyrl
