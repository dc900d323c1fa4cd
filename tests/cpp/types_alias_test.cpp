#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/type_definition.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using Kind = TypeDefinition::Kind;
using Base = PrimitiveType::Member;

struct AliasCase {
  std::string_view definition;
  Kind kind;
  Base base;
  std::string_view value;
  std::string expected;  // empty means accepted
};

TEST(TypeDefinitionTest, ResolvesItsDefinitionAtEveryCheck) {
  const std::vector<AliasCase> cases = {
      {"i32", Kind::PrimitiveName, Base::I32, "8080", ""},
      {"i32", Kind::PrimitiveName, Base::I32, "x", "Invalid value: Expected i32, got 'x'"},
      {"color", Kind::PrimitiveName, Base::Color, "#000000", ""},
      {"math::vector3", Kind::BuiltinPath, Base::F64, "1, 2, 3", ""},
      {"math::vector3", Kind::BuiltinPath, Base::F64, "1, 2", "Invalid value: Expected 3 components, got 2"},
      {"physics::baud", Kind::BuiltinPath, Base::I32, "9600", ""},
      {"list<math::vector2>", Kind::BuiltinPath, Base::String, "[1, 2]",
       "Invalid value: List item '1' failed validation for type 'math::vector2': Schema 'list<math::vector2>' "
       "validation error: field 'list_item' (type 'math::vector2') \u2014 Invalid value: Expected 2 components, "
       "got 1"},
      // Names that resolve to nothing: their NotFound comes back unchanged and the base is string.
      {"integer", Kind::PrimitiveName, Base::String, "1", "Key not found: 'integer'"},
      {"b = c", Kind::PrimitiveName, Base::String, "1", "Key not found: 'b = c'"},
      {"list<i32>", Kind::PrimitiveName, Base::String, "[1]", "Key not found: 'list<i32>'"},
      {"I32", Kind::PrimitiveName, Base::String, "1", "Key not found: 'I32'"},
      {"math::vec3", Kind::BuiltinPath, Base::String, "1", "Key not found: 'vec3'"},
      {"geo::point", Kind::BuiltinPath, Base::String, "1", "Key not found: 'geo::point'"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.definition) + " " + std::string(c.value));
    const TypeDefinition alias{std::string(c.definition)};
    EXPECT_EQ(alias.definition(), c.definition);
    EXPECT_EQ(alias.kind(), c.kind);
    EXPECT_EQ(alias.base_type(), PrimitiveType(c.base));
    const auto result = alias.validate(c.value, detail::store_of(document));
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
  }
}

// Aliases are looked up before built-in names, and never chain to each other.
TEST(TypeDefinitionTest, RegisteredAliasesShadowButDoNotChain) {
  VYRL document;
  detail::store_of(document).register_type("i32", std::make_unique<TypeDefinition>("string"));
  detail::store_of(document).register_type("port", std::make_unique<TypeDefinition>("i32"));
  detail::store_of(document).register_type("b", std::make_unique<TypeDefinition>("port"));

  EXPECT_TRUE(document.validate_value("i32", "not a number"));
  // "port" names the primitive i32 directly; the alias called i32 is not consulted.
  EXPECT_EQ(testing::error_message(document.validate_value("port", "x")),
            "Invalid type 'port': Invalid value: Expected i32, got 'x'");
  EXPECT_EQ(testing::error_message(document.validate_value("b", "1")), "Invalid type 'b': Key not found: 'port'");
  EXPECT_EQ(testing::error_message(document.validate_value("list<port>", "[1, x]")),
            "Invalid type 'list<port>': Invalid value: List item 'x' failed validation for type 'port': Schema "
            "'list<port>' validation error: field 'list_item' (type 'port') \u2014 Invalid value: Expected i32, got "
            "'x'");
}

}  // namespace
}  // namespace vyrl
