// The structural scan against the byte loop it replaces, on the texts where
// a block-at-a-time cut goes wrong first: block edges, "\r\n" split by one,
// padding of the last block, and every byte class.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "../../fuzz/scan_reference.hpp"
#include "lines/lines.hpp"
#include "statement/statement.hpp"

namespace {

std::string repeat(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(ScanTest, KernelsCutLikeTheByteLoop) {
  const std::string edge(63, 'k');  // a line feed or "\r" lands on the last bit of a block
  const std::string cases[] = {
      "",
      "\n",
      "\n\n\n",
      "a = b",
      "a = b\n",
      "a = b\r\n",
      "a = b\r",
      "a\rb = c\n",
      "\r\r\n",
      edge + "\n" + "x = y",
      edge + "\r\nx = y\r\n",
      edge.substr(1) + "\r\n" + "=",
      std::string(64, '='),
      std::string(64, 'a') + "\n",
      std::string(128, 'a'),
      repeat("key = value\n", 40),
      "key = \"quoted\"\nk = [1, 2]\nk = {a: 1}\nk = v # note\n@type t = string\n",
      "k\t=\tv\n\vk = v\n\fk = v\nk = v\x7f\n",
      "caf\xc3\xa9 = v\n\xc2\x85k = v\nk = \xe3\x80\x80\n",
      std::string("nul\0= byte\n", 11),
      repeat("x", 1000) + "=" + repeat("y", 1000),
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(vyrl::scan_reference::first_difference(text), std::nullopt) << testing::PrintToString(text);
  }
}

TEST(ScanTest, KernelsCutRandomTextsLikeTheByteLoop) {
  // Few distinct bytes, so that every class and pair of them meets often.
  constexpr std::string_view kBytes = "ab =\n\r\t#\"'[]{}@\x01\xc2\x85\x7f";
  std::mt19937 random(20261207);
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 300, ' ');
    for (char& c : text) c = kBytes[random() % kBytes.size()];
    ASSERT_EQ(vyrl::scan_reference::first_difference(text), std::nullopt) << testing::PrintToString(text);
  }
}

// A plain line is split at the "=" the scan found and trimmed of blanks
// only beside it; the general reading must agree on every one.
TEST(ScanTest, PlainLinesSplitLikeTheGeneralReading) {
  constexpr std::string_view kBytes = "ab =\n\t \r#x";
  std::mt19937 random(7);
  std::size_t plain = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 80, ' ');
    for (char& c : text) c = kBytes[random() % kBytes.size()];
    vyrl::LogicalLines lines(text);
    while (const vyrl::LogicalLine* line = lines.next()) {
      if (!line->plain) continue;
      ++plain;
      const auto fast = vyrl::parse_assignment(*line);
      const auto general = vyrl::parse_assignment(line->text);
      ASSERT_EQ(fast.has_value(), general.has_value()) << testing::PrintToString(text);
      if (fast) {
        ASSERT_EQ(fast->key, general->key) << testing::PrintToString(text);
        ASSERT_EQ(fast->value, general->value) << testing::PrintToString(text);
      } else {
        ASSERT_EQ(fast.error(), general.error()) << testing::PrintToString(text);
      }
    }
  }
  EXPECT_GT(plain, 1000u);  // the alphabet makes most lines plain
}

}  // namespace

namespace {

// Told of every line, a reader makes LogicalLines take the careful road for
// all of them.
struct IgnoredLines final : vyrl::PhysicalLineSink {
  void physical_line(std::size_t, const vyrl::PhysicalLine&, std::size_t) override {}
};

// Lines with colours, lists and objects take the plain road when nothing in
// them needs the careful one; both roads must cut, number and split every
// line alike.
TEST(ScanTest, LinesReadAsPlainAgreeWithTheCarefulRoad) {
  static const std::vector<std::string> kPieces = {
      "a", "key", " ", "\t", "=", " = ", "#", "# ", " #", "#FF8800", "[", "]", "{", "}", "[1, 2]", "{ a = 1 }",
      "\"", "'", "@", "@schema S { a: i32 }", "\r", "\n", "\xc3\xa9", "\xe3\x80\x80", ",", ":", "x = #1"};
  std::mt19937 random(13);
  std::size_t read_as_plain = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (std::size_t count = random() % 24; count > 0; --count) text += kPieces[random() % kPieces.size()];
    vyrl::LogicalLines fast(text);
    IgnoredLines sink;
    vyrl::LogicalLines careful(text, &sink);
    for (;;) {
      const vyrl::LogicalLine* got = fast.next();
      const vyrl::LogicalLine* expected = careful.next();
      ASSERT_EQ(got == nullptr, expected == nullptr) << testing::PrintToString(text);
      if (got == nullptr) break;
      ASSERT_EQ(got->text, expected->text) << testing::PrintToString(text);
      ASSERT_EQ(got->number, expected->number) << testing::PrintToString(text);
      ASSERT_EQ(got->last_number, expected->last_number) << testing::PrintToString(text);
      ASSERT_EQ(got->begin, expected->begin) << testing::PrintToString(text);
      ASSERT_EQ(got->end, expected->end) << testing::PrintToString(text);
      if (!got->plain || expected->plain) continue;
      ++read_as_plain;
      const auto quick = vyrl::parse_assignment(*got);
      const auto general = vyrl::parse_assignment(expected->text);
      ASSERT_EQ(quick.has_value(), general.has_value()) << testing::PrintToString(text);
      if (quick) {
        ASSERT_EQ(quick->key, general->key) << testing::PrintToString(text);
        ASSERT_EQ(quick->value, general->value) << testing::PrintToString(text);
      } else {
        ASSERT_EQ(quick.error(), general.error()) << testing::PrintToString(text);
      }
    }
  }
  EXPECT_GT(read_as_plain, 1000u);
}

}  // namespace
