#include <gtest/gtest.h>

#include <algorithm>
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

// The walk from the text's start that positions were found by before the
// index: what LineIndex::position must agree with.
Position walked_position(std::string_view text, std::size_t offset, Encoding encoding) {
  Position position;
  std::size_t line_start = 0;
  for (std::size_t newline = text.find('\n'); newline != std::string_view::npos && newline < offset;
       newline = text.find('\n', line_start)) {
    ++position.line;
    line_start = newline + 1;
  }
  position.character = column_of(text.substr(line_start), offset - line_start, encoding);
  return position;
}

TEST(LspPositionTest, TheLineIndexAnswersAsTheWalksDo) {
  const std::vector<std::string_view> texts = {
      "",
      "\n",
      "\n\n",
      "last line without a break",
      "a\r\nb\r\n",
      "a lone\rcarriage return\r",
      "\r\n\r\n",
      kText,
      "é\n😀x\r\n€€\n",
      "\xff\xc3 stray and cut bytes \xf0\x9f\n\xe2\x82",
  };
  constexpr std::size_t kHuge = std::size_t(-1);
  for (const std::string_view text : texts) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    const LineIndex index(text);
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (std::size_t line = 0; line <= lines + 1; ++line) {
      SCOPED_TRACE(line);
      EXPECT_EQ(index.line(line), line_text(text, line));
      const std::size_t width = line_text(text, line).size();
      for (const Encoding encoding : {Encoding::utf8, Encoding::utf16}) {
        for (std::size_t character = 0; character <= width + 2; ++character) {
          EXPECT_EQ(index.offset({line, character}, encoding), offset_of(text, {line, character}, encoding));
        }
        EXPECT_EQ(index.offset({line, kHuge}, encoding), offset_of(text, {line, kHuge}, encoding));
      }
    }
    EXPECT_EQ(index.line(kHuge), "");
    for (const Encoding encoding : {Encoding::utf8, Encoding::utf16}) {
      EXPECT_EQ(index.offset({kHuge, kHuge}, encoding), text.size());
      for (std::size_t offset = 0; offset <= text.size() + 2; ++offset) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(index.position(offset, encoding), walked_position(text, offset, encoding));
      }
    }
  }
}

TEST(LspPositionTest, TheLineIndexPlacesBytes) {
  struct Case {
    const char* name;
    std::size_t offset;
    Position utf8;
    Position utf16;
  };
  const std::size_t quote = 7 + 8;  // where é starts in kText
  const std::vector<Case> cases = {
      {"the first byte", 0, {0, 0}, {0, 0}},
      {"the CR of a CRLF line is on that line", 5, {0, 5}, {0, 5}},
      {"its LF too", 6, {0, 6}, {0, 6}},
      {"the next line starts after the LF", 7, {1, 0}, {1, 0}},
      {"after é", quote + 2, {1, 10}, {1, 9}},
      {"inside € counts it whole", quote + 3, {1, 13}, {1, 10}},
      {"after the surrogate pair", quote + 9, {1, 17}, {1, 12}},
      {"the end of the text", kText.size(), {2, 4}, {2, 4}},
      {"past the end is the end", kText.size() + 5, {2, 4}, {2, 4}},
  };
  const LineIndex index(kText);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(index.position(c.offset, Encoding::utf8), c.utf8);
    EXPECT_EQ(index.position(c.offset, Encoding::utf16), c.utf16);
  }
}

}  // namespace
}  // namespace vyrl::cli::lsp
