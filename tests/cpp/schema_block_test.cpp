// The roads a @schema block takes when it reads the same either way, against
// the general ones: cut from separator masks against the byte loop, read in
// place against joined, its names copied as one span against one by one.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lines/lines.hpp"
#include "statement/directive_arguments.hpp"
#include "statement/statement.hpp"
#include "types/schema.hpp"

namespace {

using vyrl::TokenRoad;

std::string random_text(std::mt19937& random, const std::vector<std::string>& pieces, std::size_t most) {
  std::string text;
  for (std::size_t count = random() % most; count > 0; --count) text += pieces[random() % pieces.size()];
  return text;
}

// Bodies of every length up to several 64-byte blocks, from every ASCII byte
// class the tokenisers tell apart: each white space byte, the comma, other
// control bytes (which are token bytes), and long runs that cross a block.
TEST(SchemaBlockTest, MaskTokensCutLikeTheByteLoop) {
  static const std::vector<std::string> kPieces = {
      "a", "port", ":", "*", " ", "  ", ",", "\t", "\n", "\r\n", "\v", "\f", "\r", "\x01", "\x1f", "\x7f",
      "list<i32>", "physics::meter", std::string(70, 'k'), std::string(63, ' '), "}", "{"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 20000; ++round) {
    const std::string body = random_text(random, kPieces, 40);
    const auto quiet = vyrl::schema_body_tokens(body, TokenRoad::quiet);
    const auto general = vyrl::schema_body_tokens(body, TokenRoad::general);
    ASSERT_EQ(quiet.size(), general.size()) << testing::PrintToString(body);
    for (std::size_t i = 0; i < quiet.size(); ++i) {
      // The same bytes of the body, not merely equal texts.
      ASSERT_EQ(quiet[i].data(), general[i].data()) << testing::PrintToString(body);
      ASSERT_EQ(quiet[i].size(), general[i].size()) << testing::PrintToString(body);
    }
  }
}

std::string described(const std::expected<vyrl::SchemaArguments, vyrl::VyrlError>& parsed) {
  std::string out;
  if (!parsed) {
    out.append("refused: ").append(parsed.error().message());
    out.append(" slip ").append(std::to_string(int(parsed.error().slip())));
    return out;
  }
  out.append("name ").append(parsed->name).append(";");
  for (const auto& field : parsed->fields) out.append(" ").append(field.name).append("|").append(field.mark).append("|").append(field.type);
  return out;
}

// What a directive line says to the loader: its name and, read as a schema,
// its fields or its refusal.
std::string reading_of(std::string_view text) {
  const vyrl::DirectiveLine directive = vyrl::split_directive(text);
  std::string out = "@";
  out.append(directive.name).append(" ").append(described(vyrl::parse_schema_arguments(directive.arguments)));
  return out;
}

// Texts of blocks and lines around them, with everything that must keep a
// block off the in-place road (comment marks, quotes, control and non-ASCII
// bytes, a block the text leaves open) and what must not (tabs, "\r\n",
// blank lines, commas, braces, words after the closing brace).
TEST(SchemaBlockTest, BlocksReadInPlaceReadAsJoined) {
  static const std::vector<std::string> kPieces = {
      "@schema S {\n", "@schema S{\n", "@schema {\n", "@type T = {\n", "@schema\tS { a: i32\n", "  a: i32\n",
      "b*: f64,\n", "\tc : color\n", "d:\n", " list<i32>\n", "e\n", ":\n", "\r\n", "\n", "}\n", "} tail\n", "}}\n",
      "{\n", "x = 1\n", "# note\n", "  f: i32 # note\n", "'q'\n", "\"q\"\n", "g: \xc3\xa9\n", "h: i32\x0b\n",
      "i:\xe3\x80\x80i32\n", "  j: string  ", "k: i32\r\n", "*: i32\n"};
  std::mt19937 random(20261209);
  std::size_t in_place = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(random, kPieces, 16);
    vyrl::LogicalLines joined(text);
    vyrl::LogicalLines placed(text);
    const auto take_none = [](const vyrl::PlainLine&) { return false; };
    const auto every_block = [](std::string_view) { return true; };
    for (;;) {
      const vyrl::LogicalLine* expected = joined.next();
      const vyrl::LogicalLine* got = placed.next(take_none, every_block);
      ASSERT_EQ(got == nullptr, expected == nullptr) << testing::PrintToString(text);
      if (got == nullptr) break;
      ASSERT_EQ(got->number, expected->number) << testing::PrintToString(text);
      ASSERT_EQ(got->last_number, expected->last_number) << testing::PrintToString(text);
      ASSERT_EQ(got->begin, expected->begin) << testing::PrintToString(text);
      ASSERT_EQ(got->end, expected->end) << testing::PrintToString(text);
      if (got->text == expected->text) continue;
      ++in_place;
      ASSERT_EQ(reading_of(got->text), reading_of(expected->text)) << testing::PrintToString(text);
      ASSERT_EQ(vyrl::block_is_complete(got->text), vyrl::block_is_complete(expected->text));
    }
  }
  EXPECT_GT(in_place, 1000U);  // the road under test was taken
}

struct Field {
  std::string_view name;
  std::string_view mark;
  std::string_view type;
};

std::string described(const vyrl::SchemaDef& schema) {
  std::string out;
  for (const auto& [name, type] : schema.fields) {
    out.append(name).append(schema.optional_fields.contains(name) ? "*" : "").append(":").append(type).append(" ");
  }
  return out;
}

// One text's names are copied as one span; names from anywhere else one by
// one. Repeats keep the later type and an earlier optional mark either way.
TEST(SchemaBlockTest, NamesCopiedAsOneSpanDeclareAsOneByOne) {
  const std::string text = "S { a*: i32, b: f64, a: color, c: list<i32> }";
  const auto parsed = vyrl::parse_schema_arguments(text);
  ASSERT_TRUE(parsed);
  std::vector<std::string> own;  // each name in a string of its own
  for (const auto& field : parsed->fields) {
    own.emplace_back(field.name);
    own.emplace_back(field.mark);
    own.emplace_back(field.type);
  }
  std::vector<Field> apart;
  for (std::size_t i = 0; i < own.size(); i += 3) apart.push_back({own[i], own[i + 1], own[i + 2]});
  std::vector<Field> reversed(apart.rbegin(), apart.rend());
  std::vector<Field> reversed_in_text;
  for (auto it = parsed->fields.rbegin(); it != parsed->fields.rend(); ++it) {
    reversed_in_text.push_back({it->name, it->mark, it->type});
  }
  const std::string expected = "a*:color b:f64 c:list<i32> ";
  EXPECT_EQ(described(vyrl::SchemaDef::declare(parsed->fields)), expected);
  EXPECT_EQ(described(vyrl::SchemaDef::declare(apart)), expected);
  // Out of order in one text: copied one by one, and the repeat resolves the other way.
  EXPECT_EQ(described(vyrl::SchemaDef::declare(reversed_in_text)), described(vyrl::SchemaDef::declare(reversed)));
}

}  // namespace

namespace {

// The byte loop reads_as_plain skips 16 bytes at a time past, kept as the
// reference the skip must agree with.
bool reads_as_plain_byte_by_byte(std::string_view content, std::size_t equals) {
  const std::string_view code = vyrl::trim_plain_front(content);
  if (!code.empty() && code.front() == '@') return false;
  for (std::size_t p = 0; p < content.size(); ++p) {
    const auto c = static_cast<unsigned char>(content[p]);
    if (c == '"' || c == '\'' || (c < 0x20 && c != '\t') || c >= 0x80) return false;
    if (c == '#') {
      const bool after_blank = p == 0 || content[p - 1] == ' ' || content[p - 1] == '\t';
      const bool before_blank = p + 1 == content.size() || content[p + 1] == ' ' || content[p + 1] == '\t';
      if (after_blank && before_blank) return false;
    }
    if ((c == '[' || c == ']' || c == '{' || c == '}') && p < equals) return false;
  }
  return true;
}

// Long lines, so that every byte class lands at every place of a 16-byte
// stride, the "=" before and after the brackets.
TEST(SchemaBlockTest, PlainLineSkipAgreesWithTheByteLoop) {
  static const std::vector<std::string> kPieces = {
      "key", " ", "\t", "=", "#", " # ", "#FF8800", "[", "]", "{", "}", "\"", "'", "@", "\r", "\x01", "\x7f",
      "\xc3\xa9", ",", std::string(17, 'v')};
  std::mt19937 random(20261210);
  for (int round = 0; round < 50000; ++round) {
    const std::string line = random_text(random, kPieces, 20);
    const std::size_t equals = line.find('=');
    ASSERT_EQ(vyrl::reads_as_plain(line, equals), reads_as_plain_byte_by_byte(line, equals))
        << testing::PrintToString(line);
  }
}

}  // namespace
