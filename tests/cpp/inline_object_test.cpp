#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lines/lines.hpp"
#include "literal/literal.hpp"
#include "statement/statement.hpp"

namespace vyrl {
namespace {

TEST(InlineObjectTest, SplitsFieldsInWrittenOrder) {
  struct Case {
    std::string text;
    FieldPairs pairs;
  };
  const std::vector<Case> cases = {
      {"{}", {}},
      {"  { }  ", {}},
      {"{ , ,}", {}},
      {"\u3000{}\n", {}},
      {"{ a = 1, b: 2 }", {{"a", "1"}, {"b", "2"}}},
      {"{a=1,}", {{"a", "1"}}},
      {"{ a = 1, a = 2 }", {{"a", "1"}, {"a", "2"}}},
      {"{ time: 12:30 }", {{"time", "12:30"}}},
      {"{ t = 12:30 }", {{"t", "12:30"}}},
      {"{ a:b = 1 }", {{"a", "b = 1"}}},
      {"{ name = 'x' }", {{"name", "x"}}},
      {"{ name = \"x\" }", {{"name", "x"}}},
      {"{ v = '' }", {{"v", ""}}},
      {"{ v = }", {{"v", ""}}},
      {"{ \"k\" = v }", {{"\"k\"", "v"}}},
      {"{ list = [1, 2], obj = { p = 1, q = 2 } }", {{"list", "[1, 2]"}, {"obj", "{ p = 1, q = 2 }"}}},
      {"{ inner = { x = 1, y = 2 } }", {{"inner", "{ x = 1, y = 2 }"}}},
      {"{ q = ' [a] ' }", {{"q", " [a] "}}},
      {"{ [k] = 1, {j}: 2 }", {{"[k]", "1"}, {"{j}", "2"}}},
      // The stray "}" takes the depth below zero without harm.
      {"{ a = 1 }}", {{"a", "1 }"}}},
      // Below zero, commas no longer separate fields.
      {"{ a = 1 ],b = 2 }", {{"a", "1 ],b = 2"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto result = parse_inline_object(c.text);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(*result, c.pairs);
  }
}

TEST(InlineObjectTest, ReportsTheFirstFailure) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{ msg = 'a, b' }", "Inline object field 'b'' has no '=' or ':' separator"},
      {"{ = 1 }", "Empty key in inline object field '= 1'"},
      {"{ : 1 }", "Empty key in inline object field ': 1'"},
      {"{ a }", "Inline object field 'a' has no '=' or ':' separator"},
      {"{ a = 1, b, = 2 }", "Inline object field 'b' has no '=' or ':' separator"},
      {"{ [a = 1] }", "Inline object field '[a = 1]' has no '=' or ':' separator"},
      {"[1, 2]", "Inline object must be wrapped in '{}', got: '[1, 2]'"},
      {"{", "Inline object must be wrapped in '{}', got: '{'"},
      {"}", "Inline object must be wrapped in '{}', got: '}'"},
      {"{ a = 1", "Inline object must be wrapped in '{}', got: '{ a = 1'"},
      {"x { a = 1 }", "Inline object must be wrapped in '{}', got: 'x { a = 1 }'"},
      {" [1] ", "Inline object must be wrapped in '{}', got: ' [1] '"},
      {"", "Inline object must be wrapped in '{}', got: ''"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto result = parse_inline_object(c.text);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.message);
  }
}

}  // namespace
}  // namespace vyrl
