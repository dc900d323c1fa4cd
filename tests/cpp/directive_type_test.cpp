#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/type_definition.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Kind = TypeDefinition::Kind;

TEST(TypeDirectiveTest, RegistersTheTrimmedNameAndDefinition) {
  struct Case {
    std::string line, alias, definition;
    Kind kind;
  };
  const std::vector<Case> cases = {
      {"@type port = i32", "port", "i32", Kind::PrimitiveName},
      {"@type  speed   =   f64  ", "speed", "f64", Kind::PrimitiveName},
      {"@type a = b = c", "a", "b = c", Kind::PrimitiveName},
      {"@type\u3000My Pos=\u00a0math::vector3", "My Pos", "math::vector3", Kind::BuiltinPath},
      {"@type ids = list<i32>", "ids", "list<i32>", Kind::PrimitiveName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    VYRL document;
    ASSERT_EQ(error_message(document.merge_content(c.line)), "<success>");
    ASSERT_EQ(detail::store_of(document).types().size(), 1u);
    const auto* alias = dynamic_cast<const TypeDefinition*>(detail::store_of(document).types().at(c.alias).get());
    ASSERT_NE(alias, nullptr);
    EXPECT_EQ(alias->definition(), c.definition);
    EXPECT_EQ(alias->kind(), c.kind);
  }
}

TEST(TypeDirectiveTest, RefusesMalformedLinesAndKeepsTheEarlierAlias) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"@type x", "'x'. Reason: Type definition must be in the format 'name = definition'"},
      {"@type", "''. Reason: Type definition must be in the format 'name = definition'"},
      {"@type = i32", "'= i32'. Reason: Type name cannot be empty"},
      {"@type  =", "' ='. Reason: Type name cannot be empty"},  // the name is checked first
      {"@type port =", "'port ='. Reason: Type definition cannot be empty"},
  };
  for (const auto& [line, reason] : cases) {
    SCOPED_TRACE(line);
    VYRL document;
    ASSERT_TRUE(document.merge_content("@type port = i32"));
    EXPECT_EQ(error_message(document.merge_content(line)), "Parse Error at line 0: " + reason);
    EXPECT_EQ(detail::store_of(document).types().size(), 1u);
    EXPECT_EQ(error_message(document.validate_value("port", "x")),
              "Invalid type 'port': Invalid value: Expected i32, got 'x'");
  }
}

TEST(TypeDirectiveTest, LaterAliasesReplaceEarlierOnesAndShadowBuiltins) {
  VYRL document;
  EXPECT_TRUE(document.merge_content("@type port = i32\n@type port = string\n@type i32 = string\n"
                                     "@schema S { p: port, q: i32 }\np = abc\nq = abc"));
  EXPECT_TRUE(document.validate_value("i32", "abc"));
}

}  // namespace
}  // namespace vyrl
