#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax_audit.hpp"
#include "vyrl/document.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl {
namespace {

// Every span must be the bytes its offset names in the text, and sit on the
// line and column it claims.
void expect_placed(const SyntaxTree& tree, const Span& span) {
  const std::string_view text = tree.text();
  ASSERT_LE(span.end(), text.size());
  EXPECT_EQ(text.substr(span.offset, span.text.size()), span.text);
  ASSERT_GE(span.line, 1u);
  ASSERT_LE(span.line, tree.line_count());
  const SourceLine line = tree.line(span.line - 1);
  EXPECT_EQ(span.offset, line.content.offset + span.column);
}

TEST(SyntaxTest, RebuildsEveryInputByteForByte) {
  const std::vector<std::string> inputs = {
      "",
      "a = 1",
      "a = 1\n",
      "a = 1\r\n\r\nb = 2\r\n",
      "\xEF\xBB\xBF# note\na = 1\n",
      "name = caf\xE9\n\xFF\xFE\n",
      "a = 1\rb = 2\n",
      "@schema S {\n  a: i32  # why\n\n  b*: string\n}\ntail = x",
      "@schema S {\n a: i32\n",
      "x = 1\n@schema S {\r a:{i32 }\r\n",  // a block open at the end, on its last line
      "\n\n\n",
      "  # only\n\t\n@import\n= 5\nkey\n",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(::testing::PrintToString(input));
    const SyntaxTree tree = read_syntax(input);
    EXPECT_EQ(SyntaxAudit::rebuild(tree), input);
    std::size_t covered = 0;
    for (const SyntaxLine& line : tree.statements()) {
      EXPECT_EQ(line.first_line, covered);
      covered += line.line_count;
    }
    EXPECT_EQ(covered, tree.line_count());
  }
}

struct KindCase {
  std::string input;
  std::vector<SyntaxKind> kinds;
};

TEST(SyntaxTest, ClassifiesEachLogicalLine) {
  using enum SyntaxKind;
  const std::vector<KindCase> cases = {
      {"a = 1\n\n# c\n", {assignment, blank, comment}},
      {"#note = 1\n", {assignment}},
      {"@schema S {\n# c\n a: i32\n}\nx = 1\n", {directive, assignment}},
      {"@\n@unknown x\n@type x\n@schema S x\n@import   \n", {unreadable, unreadable, unreadable, unreadable, unreadable}},
      {"@derive\n@import a.vyr\n@type t = i32\n", {directive, directive, directive}},
      {"no separator\n= 1\n", {unreadable, unreadable}},
      {"\xEF\xBB\xBF# note\n", {unreadable}},  // a byte-order mark is part of the first line
      {"key = {\na = 1\n}\n", {assignment, assignment, unreadable}},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    const SyntaxTree tree = read_syntax(c.input);
    std::vector<SyntaxKind> kinds;
    for (const SyntaxLine& line : tree.statements()) kinds.push_back(line.kind);
    EXPECT_EQ(kinds, c.kinds);
  }
}

struct AssignmentCase {
  std::string input;
  std::string key;
  std::string value;
  std::string value_read;
  std::uint32_t value_column;
  std::string comment;
};

TEST(SyntaxTest, SpansOfAnAssignment) {
  const std::vector<AssignmentCase> cases = {
      {"key = value", "key", "value", "value", 6, ""},
      {"  my key=  'quoted'   # why  ", "my key", "'quoted'", "quoted", 11, "# why  "},
      {"x==y", "x", "=y", "=y", 2, ""},
      {"empty =", "empty", "", "", 7, ""},
      {"pair = \"\"", "pair", "\"\"", "", 7, ""},
      {"obj = { x = 1 } # c", "obj", "{ x = 1 }", "{ x = 1 }", 6, "# c"},
      {"color = #FF8800\r\n", "color", "#FF8800", "#FF8800", 8, ""},
  };
  for (const AssignmentCase& c : cases) {
    SCOPED_TRACE(c.input);
    const SyntaxTree tree = read_syntax(c.input);
    ASSERT_EQ(tree.statements().size(), 1u);
    ASSERT_EQ(tree.statements()[0].kind, SyntaxKind::assignment);
    const AssignmentSpans line = tree.assignment(tree.statements()[0]);
    EXPECT_EQ(line.key.text, c.key);
    EXPECT_EQ(line.equals.text, "=");
    EXPECT_EQ(line.value.text, c.value);
    EXPECT_EQ(line.value_read.text, c.value_read);
    EXPECT_EQ(line.value.column, c.value_column);
    EXPECT_EQ(tree.line(0).comment.text, c.comment);
    for (const Span* span : {&line.key, &line.equals, &line.value, &line.value_read}) expect_placed(tree, *span);
  }
}

TEST(SyntaxTest, SpansOfDirectivesOnOneLineAndInBlocks) {
  const std::string text =
      "@type  port = i32\n"
      "@import \"common.vyr\"\n"
      "@derive 'base.vyr':A :: B\n"
      "@schema Server {   # fields\n"
      "  host: string\n"
      "  port*:\n"
      "    i32\n"
      "}\n";
  const SyntaxTree tree = read_syntax(text);
  ASSERT_EQ(tree.statements().size(), 4u);
  const DirectiveSpans type = tree.directive(tree.statements()[0]);
  EXPECT_EQ(type.name.text, "type");
  EXPECT_EQ(type.arguments.text, "port = i32");
  EXPECT_EQ(type.subject.text, "port");
  EXPECT_EQ(type.definition.text, "i32");
  EXPECT_EQ(type.definition.column, 14u);
  EXPECT_EQ(tree.directive(tree.statements()[1]).subject.text, "common.vyr");
  const DirectiveSpans derive = tree.directive(tree.statements()[2]);
  EXPECT_EQ(derive.subject.text, "base.vyr");
  ASSERT_EQ(derive.selectors.size(), 2u);
  EXPECT_EQ(derive.selectors[0].text, "A");
  EXPECT_EQ(derive.selectors[1].text, "B");

  const SyntaxLine& block = tree.statements()[3];
  ASSERT_EQ(block.kind, SyntaxKind::directive);
  EXPECT_EQ(block.line_count, 5u);
  EXPECT_EQ(block.logical, "@schema Server { host: string port*: i32 }");
  const DirectiveSpans schema = tree.directive(block);
  EXPECT_EQ(schema.subject.text, "Server");
  EXPECT_EQ(schema.arguments.text, "Server {   # fields\n  host: string\n  port*:\n    i32\n}");
  const auto& fields = schema.fields;
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].name.text, "host");
  EXPECT_EQ(fields[0].name.line, 5u);
  EXPECT_EQ(fields[0].name.column, 2u);
  EXPECT_EQ(fields[1].mark.text, "*");
  EXPECT_EQ(fields[1].type.text, "i32");
  EXPECT_EQ(fields[1].type.line, 7u);
  EXPECT_EQ(fields[1].type.column, 4u);
  EXPECT_EQ(schema.close_brace.line, 8u);
  EXPECT_EQ(schema.close_brace.column, 0u);
  for (const SchemaFieldSpans& field : fields) {
    expect_placed(tree, field.name);
    expect_placed(tree, field.type);
  }
  expect_placed(tree, schema.open_brace);
  expect_placed(tree, schema.close_brace);
}

// The reason of an unreadable line is the error loading gives for it, only
// without the frame that says which text it was.
TEST(SyntaxTest, UnreadableLinesCarryTheLoadersError) {
  const std::vector<std::string> inputs = {
      "a = 1\nbroken\n",
      "@\n",
      "x = 1\n\n@nope {\n}\n",
      "@type x\n",
      "@type = i32\n",
      "@schema S { a : i32 }\n",
      "@schema S {\n a: i32\n",
      "@import\n",
      "= 5\n",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    const auto loaded = VYRL::parse(input);
    ASSERT_FALSE(loaded.has_value());
    const SyntaxTree tree = read_syntax(input);
    const SyntaxLine* bad = tree.first_unreadable();
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(tree.error(*bad)->message(), loaded.error().message());
    EXPECT_EQ(tree.first_line(*bad).content.line, loaded.error().frames().back().line);
  }
}

// A directive's kind comes from its exact name, for lines that load and for
// lines loading refuses alike; a near name is no directive at all.
TEST(SyntaxTest, DirectivesAreKnownByTheirExactName) {
  struct Case {
    std::string input;
    SyntaxKind line;
    DirectiveKind directive;
  };
  const std::vector<Case> cases = {
      {"@import a.vyr\n", SyntaxKind::directive, DirectiveKind::import},
      {"@type t = i32\n", SyntaxKind::directive, DirectiveKind::type},
      {"@schema S { a: i32 }\n", SyntaxKind::directive, DirectiveKind::schema},
      {"@derive a.vyr::S\n", SyntaxKind::directive, DirectiveKind::derive},
      {"@derive\n", SyntaxKind::directive, DirectiveKind::derive},
      {"@type x\n", SyntaxKind::unreadable, DirectiveKind::type},
      {"@schema S {\n a: i32\n", SyntaxKind::unreadable, DirectiveKind::schema},
      {"@import\n", SyntaxKind::unreadable, DirectiveKind::import},
      {"@Import a.vyr\n", SyntaxKind::unreadable, DirectiveKind::unknown},
      {"@schema{ a: i32 }\n", SyntaxKind::unreadable, DirectiveKind::unknown},
      {"@types t = i32\n", SyntaxKind::unreadable, DirectiveKind::unknown},
      {"@impor a.vyr\n", SyntaxKind::unreadable, DirectiveKind::unknown},
      {"@ import a.vyr\n", SyntaxKind::unreadable, DirectiveKind::unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const SyntaxTree tree = read_syntax(c.input);
    ASSERT_FALSE(tree.statements().empty());
    const SyntaxLine& line = tree.statements().front();
    EXPECT_EQ(line.kind, c.line);
    const DirectiveSpans spans = tree.directive(line);
    EXPECT_EQ(spans.kind, c.directive);
    EXPECT_EQ(directive_kind(spans.name.text), c.directive);
  }
  // Names and kinds map onto each other, and nothing else names a kind.
  for (const DirectiveKind kind : kDirectiveKinds) {
    EXPECT_EQ(directive_kind(directive_name(kind)), kind);
    EXPECT_FALSE(directive_name(kind).empty());
  }
  EXPECT_EQ(directive_name(DirectiveKind::unknown), "");
  EXPECT_EQ(directive_kind(""), DirectiveKind::unknown);
  // Assignments and comments have no directive.
  const SyntaxTree plain = read_syntax("import = 1\n# @type t = i32\n");
  for (const SyntaxLine& line : plain.statements()) EXPECT_EQ(plain.directive(line).kind, DirectiveKind::unknown);
}

}  // namespace
}  // namespace vyrl
