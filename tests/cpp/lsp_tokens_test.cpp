#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lsp/position.hpp"
#include "lsp/tokens.hpp"

namespace vyrl::cli::lsp {
namespace {

// Lines with characters of every width, and bytes that are no character: a
// stray continuation byte, a lead byte cut short, an invalid lead.
const std::vector<std::string> kLines = {
    "", "plain", "é€😀x", "\x80\x80" "a", "a\xE2\x82", "\xF0\x9F", "\xFF" "z", "k = \"😀\" # é",
};

TEST(LspTokensTest, CountedColumnsAreColumnOfsAnswers) {
  for (const std::string& line : kLines) {
    for (const Encoding encoding : {Encoding::utf8, Encoding::utf16}) {
      // Every byte in order, and every other byte, as a walk over pieces asks.
      for (const std::size_t step : {1, 2, 3}) {
        ColumnCounter counter(line, encoding);
        for (std::size_t byte = 0; byte <= line.size() + 1; byte += step) {
          SCOPED_TRACE(testing::Message() << "line " << testing::PrintToString(line) << " byte " << byte);
          EXPECT_EQ(counter.column(byte), column_of(line, byte, encoding));
        }
      }
    }
  }
}

// Whatever the text, the tokens decode to pieces of single lines, in order,
// apart, and inside their lines.
TEST(LspTokensTest, TokensStayInsideTheirLinesInOrder) {
  const std::vector<std::string> texts = {
      "@schema S {\n  a: i32   # c\n  b: list<list<x>>\n}\nk = [1, {a = 'b # c'}]\n",
      "@derive \"x {\n # a comment, though inside the quotes\n}\"::A::B # c\r\nv = #FFFFFF\n",
      "@import \"a {\n\n\n b }\"\n",
      "\xEF\xBB\xBFk = \xF0\x9F\x98\x80 # \x80\n@type \xFF = \xE2\x82\n",
      "a = {x = 'y', = }\nb = [[[[[[]]]]]]\n@schema T { f: T }\n",
      "@schema\n@type\n@import\n@derive ::\n",
  };
  for (const std::string& text : texts) {
    for (const Encoding encoding : {Encoding::utf8, Encoding::utf16}) {
      SCOPED_TRACE(testing::PrintToString(text));
      const OpenText document{"file:///t.vyr", "/t.vyr", text, nullptr};
      const Workspace workspace{"/", encoding, false, [](std::string_view) { return nullptr; }};
      const std::vector<std::uint32_t> data = semantic_tokens(document, workspace, std::nullopt).data;
      ASSERT_EQ(data.size() % 5, 0u);
      const LineIndex lines(text);
      std::size_t line = 0;
      std::size_t start = 0;
      std::size_t previous_end = 0;
      for (std::size_t i = 0; i < data.size(); i += 5) {
        if (data[i] != 0) {
          line += data[i];
          start = data[i + 1];
          previous_end = 0;
        } else {
          start += data[i + 1];
        }
        EXPECT_TRUE(i == 0 || data[i] != 0 || start >= previous_end) << "token " << i / 5 << " overlaps the one before";
        const std::string_view content = lines.line(line);
        EXPECT_GT(data[i + 2], 0u);
        EXPECT_LE(start + data[i + 2], column_of(content, content.size(), encoding)) << "token " << i / 5;
        EXPECT_LT(data[i + 3], token_legend().types.size());
        EXPECT_LT(data[i + 4], 1u << token_legend().modifiers.size());
        previous_end = start + data[i + 2];
      }
    }
  }
}

}  // namespace
}  // namespace vyrl::cli::lsp
