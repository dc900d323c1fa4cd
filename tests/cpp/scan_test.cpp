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
