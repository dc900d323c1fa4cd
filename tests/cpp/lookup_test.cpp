#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

VYRL document_of(std::string_view text) {
  VYRL document;
  const Status merged = document.merge_content(text);
  EXPECT_TRUE(merged) << testing::error_message(merged);
  return document;
}

std::optional<std::string> text_of(const std::optional<FoundValue>& found) {
  if (!found) return std::nullopt;
  return found->text();
}

struct LookupCase {
  std::string entries;
  std::string argument;
  std::optional<std::string> obj, key, deep;
};

TEST(LookupTest, ForwardReverseAndChained) {
  const auto none = std::nullopt;
  const std::vector<LookupCase> cases = {
      {"", "", none, none, none},
      {"", "x", none, none, none},
      {"port = 8080", "port", "8080", none, "8080"},
      {"port = 8080", "8080", "port", "port", none},
      {"port = 8080", " 8080", none, none, none},
      {"port = 8080", "\"8080\"", none, none, none},
      {"port = ' 8080'", " 8080", "port", "port", none},
      {"name = name", "name", "name", "name", "name"},
      {"a = x\nb = a", "a", "x", "b", "x"},  // a key wins over a value
      {"empty =", "empty", "", none, ""},
      {"empty =", "", "empty", "empty", none},
      {"Port = 1", "port", none, none, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.entries) + " / " + c.argument);
    const VYRL document = document_of(c.entries);
    EXPECT_EQ(text_of(document.find_obj(c.argument)), c.obj);
    EXPECT_EQ(text_of(document.find_key(c.argument)), c.key);
    EXPECT_EQ(text_of(document.find_deep(c.argument)), c.deep);
  }
}

TEST(LookupTest, FindDeepFollowsChainsUntilTheyEndOrCycle) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"first = second\nsecond = third", "third"},
      {"first = second", "second"},
      {"first = first", "first"},
      {"first = second\nsecond = first", "second"},
      {"first = second\nsecond = second", "second"},
      {"first = second\nsecond = third\nthird = second", "third"},
      {"second = third", std::nullopt},
      {"first = a\na = b\nb = c\nc = d\nd = a", "d"},
  };
  for (const auto& [entries, expected] : cases) {
    SCOPED_TRACE(entries);
    EXPECT_EQ(text_of(document_of(entries).find_deep("first")), expected);
  }
}

TEST(LookupTest, LongChainWalksEveryLink) {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    text += 'k';
    text += std::to_string(i);
    text += " = k";
    text += std::to_string(i + 1);
    text += '\n';
  }
  text += "k10000 = k0\n";
  EXPECT_EQ(text_of(document_of(text).find_deep("k0")), "k10000");
  EXPECT_EQ(text_of(document_of(text).find_deep("k5")), "k4");
}

TEST(LookupTest, EqualValuesReturnOneOfTheirKeys) {
  const VYRL document = document_of("a = same\nb = same");
  const auto key = text_of(document.find_key("same"));
  ASSERT_TRUE(key);
  EXPECT_TRUE(*key == "a" || *key == "b") << *key;
  EXPECT_EQ(text_of(document.find_obj("same")), key);
}

TEST(LookupTest, FoundValueOutlivesItsDocument) {
  std::optional<FoundValue> found;
  {
    VYRL document = document_of("k = v");
    found = document.find_obj("k");
    ASSERT_TRUE(document.merge_content("k = changed"));
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(found->text(), "v");
}

TEST(AsObjectTest, ReadsInlineObjectsAndRejectsEverythingElse) {
  using Object = std::map<std::string, std::string>;
  const std::vector<std::pair<std::string, std::optional<Object>>> cases = {
      {"{ host = alpha, port: 8080 }", Object{{"host", "alpha"}, {"port", "8080"}}},
      {" \t{ a = 1 }\u3000", Object{{"a", "1"}}},
      {"{ a = 1, a = 2 }", Object{{"a", "2"}}},
      {"{}", Object{}},
      {"{   }", Object{}},
      {"{ tags = [a, b], inner = { x = 1 } }", Object{{"tags", "[a, b]"}, {"inner", "{ x = 1 }"}}},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"{ a = 1", std::nullopt},
      {"a = 1 }", std::nullopt},
      {"[1, 2]", std::nullopt},
      {"{ a }", std::nullopt},
      {"{ = 1 }", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const auto object = FoundValue(text).as_object();
    if (!expected) {
      EXPECT_FALSE(object.has_value());
      continue;
    }
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(Object(object->begin(), object->end()), *expected);
  }
}

}  // namespace
}  // namespace vyrl
