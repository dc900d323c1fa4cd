#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"
#include "types/list.hpp"
#include "types/depth_guard.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using Items = std::vector<std::string>;

TEST(ListTypeTest, ParseInnerRecognisesOnlyTheListForm) {
  const std::vector<std::pair<std::string_view, std::optional<std::string_view>>> cases = {
      {"list<i32>", "i32"},
      {"  list< i32 >  ", "i32"},
      {"list<list<f64>>", "list<f64>"},
      {"\xC2\xA0list<\xE3\x80\x80x\xE3\x80\x80>\xC2\xA0", "x"},
      {"list<>", std::nullopt},
      {"list< >", std::nullopt},
      {"list <i32>", std::nullopt},
      {"List<i32>", std::nullopt},
      {"list<i32", std::nullopt},
      {"list<", std::nullopt},
      {"i32", std::nullopt},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(ListType::parse_inner(name), expected) << name;
  }
}

TEST(ListTypeTest, ParseItemsSplitsAtTopLevelCommasOnly) {
  const std::vector<std::pair<std::string_view, std::optional<Items>>> cases = {
      {"[1, 2, 3]", Items{"1", "2", "3"}},
      {"[]", Items{}},
      {"[ ]", Items{}},
      {"[,]", Items{}},
      {"  [a]  ", Items{"a"}},
      {"[a,,b]", Items{"a", "b"}},
      {"[a, b,]", Items{"a", "b"}},
      {"[[1,2],[3,4]]", Items{"[1,2]", "[3,4]"}},
      {"[{ x = 1, y = 2 }, { x = 3 }]", Items{"{ x = 1, y = 2 }", "{ x = 3 }"}},
      {"['a,b', z]", Items{"'a", "b'", "z"}},
      {"[a], [b]", Items{"a], [b"}},
      // A stray closer takes the depth below zero, where commas do not split.
      {"[a], b, c]", Items{"a], b, c"}},
      {"1, 2", std::nullopt},
      {"[1, 2", std::nullopt},
      {"[", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ListType::parse_items(text), expected) << text;
  }
}

struct ValueCase {
  std::string_view type;
  std::string_view value;
  std::string expected;  // empty means accepted
};

// Through the document, so items take the same road as any typed field.
TEST(ListTypeTest, ValidatesEachItemThroughTheDocument) {
  const std::vector<ValueCase> cases = {
      {"list<bool>", "[true, 0, FALSE]", ""},
      {"list<bool>", "[]", ""},
      {"list<bool>", "true",
       "Invalid type 'list<bool>': Invalid value: Expected a list literal in the form [item, item, ...], got 'true'"},
      {"list<i32>", "[1, x, y]",
       "Invalid type 'list<i32>': Invalid value: List item 'x' failed validation for type 'i32': Schema 'list<i32>' "
       "validation error: field 'list_item' (type 'i32') \u2014 Invalid value: Expected i32, got 'x'"},
      {"list<list<i32>>", "[[1, 2], [3]]", ""},
      {"list<list<i32>>", "[[1, a]]",
       "Invalid type 'list<list<i32>>': Invalid value: List item '[1, a]' failed validation for type 'list<i32>': "
       "Schema 'list<list<i32>>' validation error: field 'list_item' (type 'list<i32>') \u2014 Invalid value: List "
       "item 'a' failed validation for type 'i32': Schema 'list<i32>' validation error: field 'list_item' (type "
       "'i32') \u2014 Invalid value: Expected i32, got 'a'"},
      {"list<nosuch>", "[]", ""},
      {"list<nosuch>", "[1]",
       "Invalid type 'list<nosuch>': Invalid value: List item '1' failed validation for type 'nosuch': Schema "
       "'list<nosuch>' validation error: field 'list_item' (type 'nosuch') \u2014 Unknown type 'nosuch'"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + std::string(c.value));
    const auto result = document.validate_value(c.type, c.value);
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
  }
}

// A value nested past the validation depth limit must end in an error, not
// exhaust the stack; each level wraps the one below, so the reason comes last.
TEST(ListTypeTest, DeepNestingIsRefusedNotOverflowed) {
  constexpr std::size_t kLevels = kMaxValidationDepth + 4;
  std::string type;
  std::string value;
  for (std::size_t i = 0; i < kLevels; ++i) type += "list<";
  type += "i32";
  type.append(kLevels, '>');
  value.append(kLevels, '[');
  value += "1";
  value.append(kLevels, ']');
  const VYRL document;
  const auto result = document.validate_value(type, value);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().message().ends_with(kNestedTooDeeply));
}

}  // namespace
}  // namespace vyrl
