#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lines/lines.hpp"
#include "literal/literal.hpp"
#include "statement/statement.hpp"

namespace vyrl {
namespace {

struct TextCase {
  std::string input;
  std::string expected;
};

TEST(StripCommentTest, CutsOnlyAFreeStandingHashOutsideQuotes) {
  const std::vector<TextCase> cases = {
      {"a = 1 # note", "a = 1 "},
      {"a = 1 #", "a = 1 "},
      {"#", ""},
      {"# note", ""},
      {"\t#\tnote", "\t"},
      {"#note", "#note"},
      {"a = x#y", "a = x#y"},
      {"color = #FF8800", "color = #FF8800"},
      {"a = x# y", "a = x# y"},
      {"a = x #y", "a = x #y"},
      {"a = 'x # y'", "a = 'x # y'"},
      {"a = \"x # y\" # z", "a = \"x # y\" "},
      {"a = \"it's\" # z", "a = \"it's\" "},
      {"a = it's # note", "a = it's # note"},  // the apostrophe never closes
      {"a = \v# note", "a = \v# note"},        // vertical tab is not comment space
      {"a = 1 #\v", "a = 1 #\v"},
      {"a = 1\xC2\xA0# note", "a = 1\xC2\xA0# note"},
      {"a = 1 #\r", "a = 1 "},
      {"a = 1 #\f", "a = 1 "},
      {"a = 'x' # 'y' # z", "a = 'x' "},
      {"a = 1 ## two", "a = 1 ## two"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    EXPECT_EQ(strip_comment(c.input), c.expected);
  }
}

TEST(UnwrapQuotesTest, RemovesOneMatchingPair) {
  const std::vector<TextCase> cases = {
      {"  \"abc\"  ", "abc"},
      {"\"\"", ""},
      {"''", ""},
      {"'abc'", "abc"},
      {"'abc\"", "'abc\""},
      {"\"a\"b\"", "a\"b"},
      {"\"", "\""},
      {"'", "'"},
      {"\" padded \"", " padded "},
      {"''x''", "'x'"},
      {"\u3000'x'\u3000", "x"},
      {"plain", "plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(unwrap_quotes(c.input), c.expected);
  }
}

TEST(ParseAssignmentTest, SplitsAtFirstEqualsAtDepthZero) {
  struct Case {
    std::string line, key, value;
  };
  const std::vector<Case> cases = {
      {"key = value", "key", "value"},
      {"key=\"a = b\"", "key", "a = b"},
      {"list = [a, b]", "list", "[a, b]"},
      {"obj = { x = 1 }", "obj", "{ x = 1 }"},
      {"my key = 1", "my key", "1"},
      {"x==y", "x", "=y"},
      {"key =", "key", ""},
      {"x = 'quoted'", "x", "quoted"},
      {"x = ' [kept] '", "x", " [kept] "},
      {"x = [unbalanced", "x", "[unbalanced"},
      {"a{b}c = 1", "a{b}c", "1"},
      {"\"q\" = v", "\"q\"", "v"},
      {"k = '{'", "k", "{"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto result = parse_assignment(c.line);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(result->key, c.key);
    EXPECT_EQ(result->value, c.value);
  }
}

TEST(ParseAssignmentTest, ReportsTheTwoFixedMessages) {
  const std::vector<TextCase> cases = {
      {"key", "Missing assignment operator '='"},
      {"a] = 1", "Missing assignment operator '='"},
      {"a[ = 1", "Missing assignment operator '='"},
      {"{a = 1}", "Missing assignment operator '='"},
      {"", "Missing assignment operator '='"},
      {"= 5", "Key cannot be empty"},
      {"\u3000= 5", "Key cannot be empty"},
      {"=", "Key cannot be empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const auto result = parse_assignment(c.input);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.expected);
  }
}

TEST(BlockTest, OpensOnlyOnDirectivesAndClosesWhenBracesBalance) {
  struct Case {
    std::string text;
    bool opens;
    bool complete;
  };
  const std::vector<Case> cases = {
      {"@schema User {", true, false},
      {"@schema User { name: string }", false, true},
      {"key = {", false, false},
      {"@", false, true},
      {"", false, true},
      {"@schema U { a: { }", true, false},
      {"@schema U { a: i32 } }", false, true},
      {"@x '{'", true, false},  // quotes do not hide braces
      {"@x [[[", false, true},  // brackets do not count
      {"}", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(needs_accumulation(c.text), c.opens);
    EXPECT_EQ(block_is_complete(c.text), c.complete);
  }
}

}  // namespace
}  // namespace vyrl
