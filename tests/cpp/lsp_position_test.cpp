#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lsp/position.hpp"

namespace vyrl::cli::lsp {
namespace {

// "é" is two bytes and one UTF-16 unit, "€" three bytes and one unit, "😀"
// four bytes and a surrogate pair.
constexpr std::string_view kText = "a = 1\r\nname = \"é€😀\" # x\nlast";

TEST(LspPositionTest, ClientPositionsNameTheRightByte) {
  struct Case {
    const char* name;
    Position position;
    std::size_t utf8;   // the byte offset when columns count bytes
    std::size_t utf16;  // ... and when they count UTF-16 units
  };
  const std::size_t line1 = 7;  // after "a = 1\r\n"
  const std::size_t quote = line1 + 8;  // where é starts
  const std::vector<Case> cases = {
      {"start", {0, 0}, 0, 0},
      {"before the CR of a CRLF line", {0, 5}, 5, 5},
      {"past the end of a CRLF line stops before its CR", {0, 99}, 5, 5},
      {"inside é in bytes, after it in UTF-16", {1, 9}, quote, quote + 2},
      {"after é in each encoding", {1, 10}, quote + 2, quote + 5},
      {"after the surrogate pair in UTF-16", {1, 12}, quote + 2, quote + 9},
      {"inside a surrogate pair falls back to its start", {1, 11}, quote + 2, quote + 5},
      {"last line without a line break", {2, 4}, kText.size(), kText.size()},
      {"a line past the end is the end of the text", {9, 0}, kText.size(), kText.size()},
      {"huge numbers are clamped, not overflowed", {std::size_t(-1), std::size_t(-1)}, kText.size(), kText.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(offset_of(kText, c.position, Encoding::utf8), c.utf8);
    EXPECT_EQ(offset_of(kText, c.position, Encoding::utf16), c.utf16);
  }
}

TEST(LspPositionTest, ColumnsCountCodeUnits) {
  const std::string_view line = line_text(kText, 1);
  EXPECT_EQ(line, "name = \"é€😀\" # x");
  struct Case {
    std::size_t byte;
    std::size_t utf8;
    std::size_t utf16;
  };
  const std::vector<Case> cases = {{0, 0, 0}, {10, 10, 9}, {13, 13, 10}, {17, 17, 12}, {999, line.size(), 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.byte);
    EXPECT_EQ(column_of(line, c.byte, Encoding::utf8), c.utf8);
    EXPECT_EQ(column_of(line, c.byte, Encoding::utf16), c.utf16);
    // A column found for a character boundary leads back to it.
    if (c.byte <= line.size()) {
      EXPECT_EQ(offset_of(kText, {1, c.utf16}, Encoding::utf16), 7 + c.byte);
    }
  }
}

TEST(LspPositionTest, LinesAreCutAtLineBreaksOnly) {
  EXPECT_EQ(line_text(kText, 0), "a = 1");
  EXPECT_EQ(line_text(kText, 2), "last");
  EXPECT_EQ(line_text(kText, 3), "");
  EXPECT_EQ(line_text("x\n", 1), "");
  EXPECT_EQ(line_text("", 0), "");
}

TEST(LspPositionTest, IncrementalChangesEditInPlace) {
  struct Case {
    const char* name;
    Position start;
    Position end;
    std::string_view replacement;
    Encoding encoding;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"replace after a surrogate pair", {0, 6}, {0, 7}, "2", Encoding::utf16, "k = 😀2\nz"},
      {"the same in bytes", {0, 8}, {0, 9}, "2", Encoding::utf8, "k = 😀2\nz"},
      {"insert a line", {1, 0}, {1, 0}, "y = 0\n", Encoding::utf16, "k = 😀1\ny = 0\nz"},
      {"join lines", {0, 99}, {1, 0}, " ", Encoding::utf16, "k = 😀1 z"},
      {"reversed ends", {1, 1}, {0, 0}, "", Encoding::utf16, ""},
      {"append past the end", {7, 7}, {7, 7}, "!", Encoding::utf16, "k = 😀1\nz!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "k = 😀1\nz";
    replace_range(text, c.start, c.end, c.replacement, c.encoding);
    EXPECT_EQ(text, c.expected);
  }
}

}  // namespace
}  // namespace vyrl::cli::lsp
