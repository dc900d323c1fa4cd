#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "text/text.hpp"

namespace vyrl {
namespace {

std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The Unicode White_Space property, listed independently of the implementation.
constexpr std::array<char32_t, 25> kWhiteSpace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

bool is_listed_white_space(char32_t c) {
  return std::find(kWhiteSpace.begin(), kWhiteSpace.end(), c) != kWhiteSpace.end();
}

TEST(TrimTest, RemovesEachWhiteSpaceCodePointFromBothEnds) {
  for (char32_t c : kWhiteSpace) {
    SCOPED_TRACE(static_cast<unsigned>(c));
    const std::string ws = utf8(c);
    EXPECT_EQ(trim(ws + "a" + ws + "b" + ws), "a" + ws + "b");
    EXPECT_EQ(trim(ws + ws), "");
  }
}

TEST(TrimTest, KeepsLookAlikesThatAreNotWhiteSpace) {
  // Zero-width space, BOM, word joiner, Mongolian vowel separator, soft hyphen.
  for (char32_t c : {0x200Bu, 0xFEFFu, 0x2060u, 0x180Eu, 0x00ADu, 0x200Cu}) {
    SCOPED_TRACE(static_cast<unsigned>(c));
    const std::string text = utf8(c) + "x" + utf8(c);
    EXPECT_EQ(trim(text), text);
    EXPECT_EQ(trim(" " + text + "\u3000"), text);
  }
}

TEST(TrimTest, ClassifiesEveryCodePointExactly) {
  // Guards the lead-byte shortcuts: no multi-byte character may be mistaken for
  // white space, from either end.
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string s = utf8(c);
    const std::size_t expected = is_listed_white_space(c) ? s.size() : 0;
    if (white_space_at(s, 0) != expected || white_space_before(s, s.size()) != expected) {
      ADD_FAILURE() << "code point " << static_cast<unsigned>(c);
      return;
    }
  }
}

TEST(TrimTest, TrailingMultiByteCharacterIsNotSplit) {
  // U+2005 ends in 0x85 and U+20A0 ends in 0xA0: trailing bytes that also end
  // two-byte white space characters.
  EXPECT_EQ(trim("a\u20A0"), "a\u20A0");
  EXPECT_EQ(trim("a\u2005"), "a");
  EXPECT_EQ(trim("\u0100\u00A0"), "\u0100");
}

TEST(SplitAtWhiteSpaceTest, CutsAtTheFirstWhiteSpaceCharacter) {
  struct Case {
    std::string text, before, after;
    bool found;
  };
  const std::vector<Case> cases = {
      {"import a.vyr", "import", "a.vyr", true},
      {"import   a", "import", "  a", true},
      {"type\u3000x", "type", "x", true},
      {"name", "name", "", false},
      {"", "", "", false},
      {" x", "", "x", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto split = split_at_white_space(c.text);
    EXPECT_EQ(split.before, c.before);
    EXPECT_EQ(split.after, c.after);
    EXPECT_EQ(split.found, c.found);
  }
}

TEST(Utf8Test, AcceptsWellFormedAndRejectsEverythingElse) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"plain ascii that is longer than one eight-byte chunk", true},
      {"\xC3\xA9", true},                   // U+00E9
      {"\xE2\x80\x94", true},               // U+2014
      {"\xF0\x9F\x98\x80", true},           // U+1F600
      {"\xF4\x8F\xBF\xBF", true},           // U+10FFFF
      {"\xEF\xBB\xBF# note", true},         // BOM is valid text
      {"\x80", false},                      // lone continuation byte
      {"\xC0\x80", false},                  // overlong NUL
      {"\xC1\xBF", false},                  // overlong
      {"\xE0\x80\x80", false},              // overlong
      {"\xF0\x80\x80\x80", false},          // overlong
      {"\xED\xA0\x80", false},              // surrogate U+D800
      {"\xED\xBF\xBF", false},              // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false},          // past U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xF8\x88\x80\x80\x80", false},
      {"\xFF", false},
      {"\xC3", false},                      // truncated at end
      {"abcdefgh\xE2\x80", false},          // truncated right after the fast path
      {"\xE2\x28\xA1", false},              // bad continuation
      {"12345678\x80" "abcdefgh", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  }
}

// What a walk over `bytes` with decode_utf8 reads, character by character.
std::vector<char32_t> decoded(std::string_view bytes) {
  std::vector<char32_t> out;
  for (std::size_t offset = 0; offset < bytes.size();) out.push_back(decode_utf8(bytes, offset));
  return out;
}

TEST(Utf8Test, DecodesWellFormedCharactersAndStepsOverEachBadByte) {
  constexpr char32_t bad = kNotUtf8;
  struct Case {
    std::string bytes;
    std::vector<char32_t> read;
  };
  const std::vector<Case> cases = {
      {"a\x7F", {'a', 0x7F}},
      {"\xC2\x80\xDF\xBF", {0x80, 0x7FF}},                    // the ends of the two-byte range
      {"\xE0\xA0\x80\xEF\xBF\xBF", {0x800, 0xFFFF}},         // ... of the three-byte range
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0x10000, 0x10FFFF}},  // ... of the four-byte range
      {"\xED\x9F\xBF\xEE\x80\x80", {0xD7FF, 0xE000}},        // either side of the surrogates
      {"\xC0\x80", {bad, bad}},                                 // overlong forms
      {"\xC1\xBF", {bad, bad}},
      {"\xE0\x9F\xBF", {bad, bad, bad}},
      {"\xF0\x8F\xBF\xBF", {bad, bad, bad, bad}},
      {"\xED\xA0\x80", {bad, bad, bad}},                        // surrogates
      {"\xED\xBF\xBF", {bad, bad, bad}},
      {"\xF4\x90\x80\x80", {bad, bad, bad, bad}},               // past U+10FFFF
      {"\xF5\x80\x80\x80", {bad, bad, bad, bad}},
      {"\xFF\xFE", {bad, bad}},
      {"\x80x", {bad, 'x'}},                                     // a lone continuation byte
      {"\xE2\x82x", {bad, bad, 'x'}},                           // cut short: the next character survives
      {"\xE2\x28\xA1", {bad, '(', bad}},
      {"\xF0\x9F\x98", {bad, bad, bad}},                        // cut at the end of the text
      {"\xF0\x9F\x98\x80\xC3\xA9", {0x1F600, 0xE9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(decoded(c.bytes), c.read);
    // The validator stops at the first byte the decoder refuses.
    std::size_t offset = 0;
    std::size_t first_bad = std::string_view::npos;
    while (offset < c.bytes.size() && first_bad == std::string_view::npos) {
      const std::size_t at = offset;
      if (decode_utf8(c.bytes, offset) == kNotUtf8) first_bad = at;
    }
    EXPECT_EQ(first_invalid_utf8(c.bytes), first_bad);
  }
}

TEST(Utf8Test, EveryScalarValueReadsBackWhole) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c == 0xD800) c = 0xE000;
    const std::string bytes = utf8(c);
    std::size_t offset = 0;
    ASSERT_EQ(decode_utf8(bytes, offset), c);
    ASSERT_EQ(offset, bytes.size());
    ASSERT_EQ(utf8_lead_length(bytes.front()), bytes.size());
    ASSERT_EQ(utf16_units(bytes.size()), c > 0xFFFF ? 2u : 1u);
  }
}

}  // namespace
}  // namespace vyrl
