#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/list.hpp"
#include "types/primitive_type.hpp"
#include "types/resolve.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Base = PrimitiveType::Member;

struct ResolvedCase {
  std::string_view name;
  Base base;
  std::string_view rejected;  // a value the resolved type refuses, naming its member
  std::string expected;
};

TEST(ResolveBuiltinTest, KnownNamesGiveTheRightMember) {
  const std::vector<ResolvedCase> cases = {
      {"i32", Base::I32, "x", "Invalid value: Expected i32, got 'x'"},
      {"color", Base::Color, "x", "Invalid value: Expected color in #RRGGBB or #RRGGBBAA format, got 'x'"},
      {" list< i32 > ", Base::String, "x",
       "Invalid value: Expected a list literal in the form [item, item, ...], got 'x'"},
      {"math::vector2", Base::F64, "1", "Invalid value: Expected 2 components, got 1"},
      {"math::quaternion", Base::F64, "1", "Invalid value: Expected 4 components, got 1"},
      {"math::matrix4x4", Base::F64, "1", "Invalid value: Expected 16 components, got 1"},
      {"time::datetime", Base::F64, "x",
       "Invalid value: Invalid DateTime 'x': expected ISO 8601 format (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)"},
      {"time::minute", Base::F64, "x", "Invalid value: Invalid Minute 'x': expected a number"},
      {"physics::byte", Base::I32, "x", "Invalid value: Expected integer for unit byte, got 'x'"},
      {"physics::Meter_Per_Second", Base::F64, "x", "Invalid value: Expected number for unit meterPerSecond, got 'x'"},
      {"physics::meter-per-second", Base::F64, "x", "Invalid value: Expected number for unit meterPerSecond, got 'x'"},
      {"physics::horsepower", Base::F64, "x", "Invalid value: Expected number for unit horsepower, got 'x'"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    const auto type = resolve_builtin(c.name);
    ASSERT_TRUE(type) << c.name << ": " << type.error().message();
    EXPECT_EQ((*type)->base_type(), PrimitiveType(c.base)) << c.name;
    EXPECT_EQ(error_message((*type)->validate(c.rejected, detail::store_of(document))), c.expected);
  }
}

// The element name is kept trimmed and unresolved; it is looked up per item later.
TEST(ResolveBuiltinTest, ListFormKeepsTheElementName) {
  for (const auto& [name, element] : std::vector<std::pair<std::string_view, std::string_view>>{
           {" list< list<i32> > ", "list<i32>"}, {"list<nosuch>", "nosuch"}}) {
    const auto list = resolve_builtin(name);
    ASSERT_TRUE(list) << name;
    const auto* as_list = dynamic_cast<const ListType*>(list->get());
    ASSERT_NE(as_list, nullptr);
    EXPECT_EQ(as_list->element(), element);
  }
}

TEST(ResolveBuiltinTest, UnknownNamesCarryWhereTheyFailed) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"I32", "I32"},
      {" i32", " i32"},
      {"", ""},
      {"list<>", "list<>"},
      {"List<i32>", "List<i32>"},
      {"math::Vector3", "Vector3"},
      {"math::vec3", "vec3"},
      {"Math::vector3", "Math::vector3"},
      {"math::", ""},
      {"math::vector3::x", "vector3::x"},
      {"math:::vector3", ":vector3"},
      {"math:: vector3", " vector3"},
      {"time::DateTime", "DateTime"},
      {"time::", ""},
      {"physics::meters", "meters"},
      {"physics::meter::x", "meter::x"},
      {"physics::Meter Per Second", "Meter Per Second"},
      {"geo::point", "geo::point"},
      {"geo::point::x", "geo::point::x"},
      {"::i32", "::i32"},
      {" math::vector3", " math::vector3"},
  };
  for (const auto& [name, carried] : cases) {
    EXPECT_EQ(error_message(resolve_builtin(name)), "Key not found: '" + std::string(carried) + "'") << name;
  }
}

}  // namespace
}  // namespace vyrl
