#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "document/internals.hpp"
#include "store_audit.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;

// The field index is repaired when a schema is replaced, so the key is typed by
// a schema that still declares it, or by none.
TEST(FieldIndexTest, AReplacedSchemaNoLongerTypesItsOldFields) {
  const std::string expected_bool =
      "Schema 'B' validation error: field 'f' (type 'bool') \u2014 Invalid value: Expected bool (true/false/1/0), got 'x'";
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"@schema A { f: i32 }\n@schema A { g: i32 }\nf = x", ""},
      {"@schema A { f: i32 }\n@schema B { f: bool }\n@schema A { }\nf = x", expected_bool},
      {"@schema B { f: bool }\n@schema A { f: i32 }\n@schema A { }\nf = x", expected_bool},
      {"@schema A { f: i32 }\n@schema A { }\n@schema A { f: i32 }\nf = x",
       "Schema 'A' validation error: field 'f' (type 'i32') \u2014 Invalid value: Expected i32, got 'x'"},
      // Three owners, the middle one replaced twice: the others still answer.
      {"@schema A { f: bool }\n@schema M { f: bool }\n@schema Z { f: bool }\n@schema M { g: i32 }\n"
       "@schema M { h: i32 }\n@schema A { }\n@schema Z { }\nf = 1\ng = 1\nh = x",
       "Schema 'M' validation error: field 'h' (type 'i32') \u2014 Invalid value: Expected i32, got 'x'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VYRL document;
    EXPECT_EQ(error_message(document.merge_content(c.text)), c.error.empty() ? "<success>" : c.error);
  }
}

TEST(FieldIndexTest, DeriveMovesASchemaWithItsFields) {
  VYRL base;
  ASSERT_TRUE(base.merge_content("@schema S { f: i32 }"));
  Store& from = detail::store_of(base);
  VYRL target;
  Store& into = detail::store_of(target);
  ASSERT_TRUE(into.schema("S") == nullptr);
  auto schema = from.take_schema("S");
  ASSERT_TRUE(schema);
  EXPECT_FALSE(from.schema_declaring("f"));
  into.insert_schema_if_absent("S", std::move(*schema));
  ASSERT_TRUE(into.schema_declaring("f"));
  EXPECT_EQ(into.schema_declaring("f")->schema, "S");
}

// Reverse lookups past the size where values are simply compared go through
// an index that every later change keeps up to date.
TEST(ReverseIndexTest, FollowsEveryChangeAfterTheFirstMiss) {
  VYRL document;
  std::string text;
  for (int i = 0; i < 100; ++i) {
    const std::string n = std::to_string(i);
    text.append("k").append(n).append(" = v").append(n).append("\n");
  }
  ASSERT_TRUE(document.merge_content(text));
  EXPECT_FALSE(document.find_key("new"));  // builds the index
  struct Step {
    std::string merge;
    std::string lookup;
    std::optional<std::string> key;
  };
  const std::vector<Step> steps = {
      {"a = new", "new", "a"},
      {"a = newer", "new", std::nullopt},
      {"", "newer", "a"},
      {"b = shared\nc = shared", "shared", std::nullopt},  // either key: checked below
      {"b = other", "shared", "c"},
      {"c = other", "shared", std::nullopt},
      {"k5 = v6", "v5", std::nullopt},
      {"k6 = x", "v6", "k5"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.merge);
    ASSERT_TRUE(document.merge_content(step.merge));
    const auto found = document.find_key(step.lookup);
    if (step.lookup == "shared" && step.merge.starts_with("b = shared")) {
      ASSERT_TRUE(found);
      EXPECT_TRUE(found->text() == "b" || found->text() == "c");
      continue;
    }
    EXPECT_EQ(found ? std::optional(found->text()) : std::nullopt, step.key);
    EXPECT_EQ(document.find_obj(step.lookup) ? std::optional(document.find_obj(step.lookup)->text()) : std::nullopt,
              step.key);
  }
}

// An estimate far above what a text held gives its room back.
TEST(ValueStoreTest, ABlankTextLeavesNoLargeTable) {
  VYRL document;
  ASSERT_TRUE(document.merge_content(std::string(4'000'000, '\n')));
  EXPECT_EQ(document.size(), 0u);
  EXPECT_LT(detail::store_of(document).values().entry_capacity(), 1000u);
  ASSERT_TRUE(document.merge_content("a = 1\n" + std::string(4'000'000, ' ')));
  EXPECT_LT(detail::store_of(document).values().entry_capacity(), 1000u);
}

// A large document keeps its values in less than one and a half times its
// text: the arena holds the keys and values, so entries and index must stay
// well under half the text between them.
TEST(ValueStoreTest, ALargeDocumentKeepsLittleBesideItsText) {
  std::string text;
  for (int n = 0; n < 200'000; ++n) {
    text += "section" + std::to_string(n / 100) + ".key" + std::to_string(n % 100) + " = value-" +
            std::to_string(n) + "\n";
  }
  VYRL document;
  ASSERT_TRUE(document.merge_content(text));
  const double kept = static_cast<double>(StoreAudit::kept_bytes(detail::store_of(document)));
  EXPECT_LE(kept / static_cast<double>(text.size()), 1.5);
}

// Short keys and values are copied by overlapping moves whose widths change
// at 4, 8 and 16 bytes; every length on either side reads back whole.
TEST(ValueStoreTest, EveryShortLengthReadsBack) {
  VYRL document;
  std::map<std::string, std::string> expected;
  std::string text;
  for (std::size_t k = 1; k <= 20; ++k) {
    for (std::size_t v = 0; v <= 40; ++v) {
      std::string key(k, 'k');
      for (std::size_t i = 0; i < k; ++i) key[i] = static_cast<char>('a' + (i * 7 + v) % 26);
      std::string value(v, 'v');
      for (std::size_t i = 0; i < v; ++i) value[i] = static_cast<char>('A' + (i * 5 + k) % 26);
      text += key + " = " + value + "\n";
      expected[key] = value;
    }
  }
  ASSERT_TRUE(document.merge_content(text));
  for (const auto& [key, value] : expected) EXPECT_EQ(document.get(key), value) << key;
}

// Sizes that do not fit an entry's shared word move into the arena, on
// either side of each limit, and survive every way a value is replaced:
// written over, copied elsewhere, and compacted with all the others.
TEST(ValueStoreTest, LongKeysAndValuesKeepTheirSizes) {
  const std::size_t longest_packed_value = (std::size_t{1} << 21) - 2;
  const std::string packed_key(2047, 'p');
  const std::string spilled_key(2048, 's');
  const std::vector<std::pair<std::string, std::string>> steps = {
      {packed_key, "one"},
      {spilled_key, "two"},
      {"k", std::string(longest_packed_value, 'a')},
      {"k", std::string(longest_packed_value + 1, 'b')},  // copied, and spills
      {"k", "short"},                                     // written over while spilled
      {spilled_key, std::string(3'000'000, 'c')},
      {packed_key, std::string(longest_packed_value + 1, 'd')},
      {spilled_key, std::string(3'000'001, 'e')},  // dead bytes now outweigh live ones
      {packed_key, "p"},
  };
  VYRL document;
  std::map<std::string, std::string> expected;
  for (const auto& [key, value] : steps) {
    SCOPED_TRACE(std::to_string(key.size()) + " = " + std::to_string(value.size()));
    ASSERT_TRUE(document.merge_content(key + " = " + value + "\n"));
    expected[key] = value;
    EXPECT_EQ(StoreAudit::check(detail::store_of(document)), "");
    for (const auto& [k, v] : expected) EXPECT_EQ(document.get(k), v) << k.size();
  }
}

}  // namespace
}  // namespace vyrl
