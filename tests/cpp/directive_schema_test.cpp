#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "document/internals.hpp"
#include "store_audit.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Fields = std::map<std::string, std::string>;
using Names = std::set<std::string>;

TEST(SchemaDirectiveTest, ParsesFieldsAndOptionalMarks) {
  struct Case {
    std::string text, name;
    Fields fields;
    Names optional;
  };
  const Fields server = {{"host", "string"}, {"port", "i32"}, {"timeout", "f64"}};
  const Fields ab = {{"a", "i32"}, {"b", "string"}};
  const std::vector<Case> cases = {
      {"@schema Server { host: string, port: i32, timeout*: f64 }", "Server", server, {"timeout"}},
      {"@schema Server {\n  host: string  # name\n\n  port: i32\ntimeout*: f64\n}", "Server", server, {"timeout"}},
      {"@schema Empty {}", "Empty", {}, {}},
      {"@schema S { a:i32 b:string }", "S", ab, {}},
      {"@schema S {a:i32,b:string}", "S", ab, {}},
      {"@schema S { a:\u3000i32,,\u2003b: string }", "S", ab, {}},
      {"@schema S { a**: i32 }", "S", {{"a", "i32"}}, {"a"}},
      {"@schema S { pos:math::vector3 }", "S", {{"pos", "math::vector3"}}, {}},
      {"@schema S { a: i32, a: string }", "S", {{"a", "string"}}, {}},
      {"@schema S { a*: i32, a: string }", "S", {{"a", "string"}}, {"a"}},
      {"@schema S { a: i32 } trailing words", "S", {{"a", "i32"}}, {}},
      {"@schema My Server { a: i32 }", "My Server", {{"a", "i32"}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VYRL document;
    ASSERT_EQ(error_message(document.merge_content(c.text)), "<success>");
    ASSERT_EQ(StoreAudit::schema_count(detail::store_of(document)), 1u);
    const SchemaDef& schema = (*detail::store_of(document).schema(c.name));
    EXPECT_EQ(Fields(schema.fields.begin(), schema.fields.end()), c.fields);
    EXPECT_EQ(Names(schema.optional_fields.begin(), schema.optional_fields.end()), c.optional);
  }
}

TEST(SchemaDirectiveTest, RefusesMalformedDeclarationsAndKeepsTheEarlierSchema) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"@schema S x: i32 }", "Expected '{'"},
      {"@schema", "Expected '{'"},
      {"@schema { a: i32 }", "Schema name is empty"},
      {"@schema S { a: i32", "Expected '}'"},
      {"@schema S } {", "Expected '}'"},
      {"@schema S { a : i32 }", "Bad field: 'a'"},
      {"@schema S { a: }", "Bad field: 'a:' has no type"},
      {"@schema S { a**: }", "Bad field: 'a**:' has no type"},
      {"@schema S { *: i32 }", "Bad field: ': i32'"},
      {"@schema S { :i32 }", "Bad field: ': i32'"},
      {"@schema S { a: i32 } }", "Bad field: '}'"},
      {"@schema S { a: b: i32 }", "Bad field: 'i32'"},  // "b:" became the type of a
      {"@schema S { xs: list<i32,string> }", "Bad field: 'string>'"},  // commas split anywhere
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    VYRL document;
    ASSERT_TRUE(document.merge_content("@schema S { kept: i32 }"));
    EXPECT_EQ(error_message(document.merge_content(text)), "Directive '@schema' error: " + reason);
    ASSERT_EQ(StoreAudit::schema_count(detail::store_of(document)), 1u);
    EXPECT_TRUE((*detail::store_of(document).schema("S")).fields.contains("kept"));
  }
}

TEST(SchemaDirectiveTest, RedeclarationReplacesTheWholeSchema) {
  VYRL document;
  ASSERT_TRUE(document.merge_content("@schema S { a*: i32, b: i32 }\n@schema S { c: bool }"));
  const SchemaDef& schema = (*detail::store_of(document).schema("S"));
  EXPECT_EQ(Fields(schema.fields.begin(), schema.fields.end()), (Fields{{"c", "bool"}}));
  EXPECT_TRUE(schema.optional_fields.empty());
}

}  // namespace
}  // namespace vyrl
