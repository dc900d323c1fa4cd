#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/document.hpp"
#include "vyrl/edit.hpp"

namespace vyrl {
namespace {

struct LayoutCase {
  std::string input;
  std::string expected;
};

TEST(FormatTest, LaysOutEachTextOneWay) {
  const std::vector<LayoutCase> cases = {
      {"", ""},
      {"\n\n", ""},
      {"a=1", "a = 1\n"},
      {"  key   =   value   \n", "key = value\n"},
      {"empty =   \n", "empty =\n"},
      {"a = 1\n\n\n\nb = 2\n\n", "a = 1\n\nb = 2\n"},
      {"\n\n# top\n", "# top\n"},
      {"   #   indented comment   \n", "#   indented comment\n"},
      {"a = 1 # one\nlonger = 2 # two\nc = 3\n", "a = 1       # one\nlonger = 2  # two\nc = 3\n"},
      {"a = 1 # one\n\nlonger = 2 # two\n", "a = 1  # one\n\nlonger = 2  # two\n"},
      {"name = \xC3\xA9t\xC3\xA9 # a\nid = abcd # b\n", "name = \xC3\xA9t\xC3\xA9  # a\nid = abcd   # b\n"},
      {"a = 1\r\nb=2\n", "a = 1\r\nb = 2\r\n"},
      {"x = '  spaced  '   \n", "x = '  spaced  '\n"},
      {"obj={ x = 1 ,y=2 }\n", "obj = { x = 1 ,y=2 }\n"},
      {"f = a = b\n", "f = a = b\n"},
      {"@type   port   =   i32   # p\n", "@type port   =   i32  # p\n"},
      {"@import    \"a b.vyr\"\n", "@import \"a b.vyr\"\n"},
      {"@schema S {\nhost: string   # h\n    port: i32 }\n", "@schema S {\n  host: string  # h\n  port: i32\n}\n"},
      {"@schema S {\n\n  a: i32\n  }\n", "@schema S {\n\n  a: i32\n}\n"},
      // Spacing that would change what the line says stays as it was.
      {"#=1\n", "#=1\n"},
      {"a =#\n", "a =#\n"},
      {"@type t = {\n  a  }\n", "@type t = {\n  a  }\n"},
      {"@type  t = {\n  }b\n", "@type t = {\n}b\n"},
      {"@type t = {{\n a }\n", "@type t = {{\n  a }\n"},  // still open: that "}" closes nothing
      {"@type t = {{\n }\n\n\n", "@type t = {{\n}\n"},  // blank lines at the end of an open block
      // A vertical tab is no comment space, but trimming it would make one.
      {"a = x #\v\n@type t = {\n\v# not a comment\n}\n", "a = x #\v\n@type t = {\n\v# not a comment\n}\n"},
      {"@schema S{} #\v\n", "@schema S{} #\v\n"},  // the schema ignores what follows its "}"
      {"@type t = {\r a:{b }\r\n", "@type t = {\r a:{b }\r\n"},
      // Nor when the block is left open and its inner lines mean nothing.
      {"@type #={\n\v#", "@type #={\n\v#\n"},
      // A block left open with blank lines after its one line is that one line.
      {"@type t={ #\v\n\n", "@type t={\n"},
      {"a = 1 # c\n@type t={ # x\n\n", "a = 1      # c\n@type t={  # x\n"},
      {"@type t = {\n# inside\n  a\n}\n", "@type t = {\n  # inside\n  a\n}\n"},
      {"@type t = {\n a\n} #\v\n", "@type t = {\n  a\n} #\v\n"},
      // A lone CR that ends a line kept whole must not join the line end after it.
      {"a = 1\nx = 1 #\v\r", "a = 1\nx = 1 #\v\n"},
      {"x = 1 #\v\r\r\n", "x = 1 #\v\r\n"},
      {"@schema S{} #\v\r", "@schema S{} #\v\n"},
      {"@type t = {\n a\n} #\v\r", "@type t = {\n  a\n} #\v\n"},
      {"@type #={\n\v#\r", "@type #={\n\v#\n"},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    const auto formatted = format(c.input);
    ASSERT_TRUE(formatted.has_value()) << formatted.error().message();
    EXPECT_EQ(*formatted, c.expected);
    const auto again = format(*formatted);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *formatted);
  }
}

TEST(FormatTest, RefusesAnUnreadableTextWithTheLoadersError) {
  const std::vector<std::string> inputs = {"a = 1\nbroken\n", "@type x\n", "@schema S {\n a: i32\n", "@what\n"};
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    const auto formatted = format(input, "conf.vyr");
    const auto loaded = VYRL::parse(input);
    ASSERT_FALSE(formatted.has_value());
    ASSERT_FALSE(loaded.has_value());
    EXPECT_EQ(formatted.error().message(), loaded.error().message());
    ASSERT_EQ(formatted.error().frames().size(), 1u);
    EXPECT_EQ(formatted.error().frames()[0].source, "conf.vyr");
    EXPECT_EQ(formatted.error().frames()[0].line, loaded.error().frames().back().line);
  }
}

// Rewriting bytes that are not UTF-8 would read them as characters they are
// not, and drop some; every rewrite refuses them as loading does, naming the
// line of the first bad byte.
TEST(FormatTest, EveryRewriteRefusesATextThatIsNotUtf8) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"name = caf\xE3\xC0\xC0\n", 1},  // would trim as U+3000
      {"a   =   1\nb = \xFF\xFE\n", 2},
      {"a = 1\r\nb = 2\rc = \xED\xA0\x80\n", 2},  // a surrogate; a lone CR ends no line
  };
  for (const auto& [text, line] : cases) {
    SCOPED_TRACE(::testing::PrintToString(text));
    for (const auto& edited : {format(text, "conf.vyr"), set_value(text, "a", "2", "conf.vyr"),
                               delete_key(text, "a", "conf.vyr")}) {
      ASSERT_FALSE(edited.has_value());
      EXPECT_EQ(edited.error().message(), "IO Error: stream did not contain valid UTF-8");
      EXPECT_EQ(edited.error().frames(), (std::vector<Frame>{{"conf.vyr", line, Frame::Origin::text}}));
    }
  }
}

// Every example formats to a text that loads to the same values and that a
// second pass leaves alone.
TEST(FormatTest, ExamplesAreStableAndKeepTheirMeaning) {
  const auto examples = testing::example_files();
  for (const auto& [path, text] : examples) {
    SCOPED_TRACE(path.string());
    const auto formatted = format(text);
    ASSERT_TRUE(formatted.has_value()) << formatted.error().message();
    EXPECT_EQ(*formatted, text) << "examples are kept formatted";
    EXPECT_EQ(format(*formatted).value_or(""), *formatted);
  }
  EXPECT_GE(examples.size(), 4u);
}

struct ValueCase {
  std::string value;
  std::string line;  // how it is written
};

// Whatever the value, the line written reads back as exactly that value.
TEST(SetValueTest, WritesEachValueSoThatItReadsBack) {
  const std::vector<ValueCase> cases = {
      {"plain", "k = plain"},
      {"", "k ="},
      {"  padded  ", "k = \"  padded  \""},
      {"a # b", "k = \"a # b\""},
      {"# starts", "k = \"# starts\""},
      {"say \"hi\"", "k = say \"hi\""},
      {"\"quoted\"", "k = '\"quoted\"'"},
      {"'single'", "k = \"'single'\""},
      {"it's # here", "k = it's # here"},
      {"a = b", "k = a = b"},
      {"[1, 2]", "k = [1, 2]"},
      {"{ x = 1 }", "k = { x = 1 }"},
      {"caf\xC3\xA9 \xE2\x9C\x93", "k = caf\xC3\xA9 \xE2\x9C\x93"},
      {"#FF8800", "k = #FF8800"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.value);
    const auto appended = set_value("", "k", c.value);
    ASSERT_TRUE(appended.has_value()) << appended.error().message();
    EXPECT_EQ(*appended, c.line + "\n");
    const auto document = VYRL::parse(*appended);
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->get("k"), c.value);

    // In place, beside a comment that must stay a comment.
    const auto replaced = set_value("k = old  # note\nk2 = 1\n", "k", c.value);
    ASSERT_TRUE(replaced.has_value()) << replaced.error().message();
    const auto again = VYRL::parse(*replaced);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->get("k"), c.value);
    EXPECT_TRUE(replaced->ends_with("# note\nk2 = 1\n")) << *replaced;
  }
}

// A line of its own: what set_value appends, without the line end.
TEST(AssignmentLineTest, SpellsEachPairSoThatItReadsBack) {
  const std::vector<ValueCase> cases = {
      {"plain", "k = plain"},          {"", "k ="},
      {"a # b", "k = \"a # b\""},      {"  padded  ", "k = \"  padded  \""},
      {"\"q\" # x", "k = '\"q\" # x'"}, {"it's # here", "k = it's # here"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.value);
    const auto line = assignment_line("k", c.value);
    ASSERT_TRUE(line.has_value()) << line.error().message();
    EXPECT_EQ(*line, c.line);
    const auto document = VYRL::parse(*line);
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->get("k"), c.value);
  }
  EXPECT_EQ(assignment_line("k", "a\rb").error().message(),
            "Invalid value: cannot write the value 'a\rb': a value cannot hold a line break");
  EXPECT_EQ(assignment_line("@k", "1").error().message(),
            "Invalid value: cannot write the key '@k': a line starting with '@' is a directive");
}

struct EditCase {
  std::string text;
  std::string expected;
};

TEST(SetValueTest, RewritesOnlyTheWinningAssignment) {
  const std::vector<EditCase> cases = {
      {"k = 1\nx = 2\nk = 3   # wins\n", "k = 1\nx = 2\nk = 9   # wins\n"},
      {"k = 'a'\r\n", "k = 9\r\n"},
      {"k =\n", "k = 9\n"},
      {"x = 1", "x = 1\nk = 9\n"},
      {"x = 1\r\ny = 2", "x = 1\r\ny = 2\r\nk = 9\r\n"},
      {"@schema S {\n  k: i32\n}\n", "@schema S {\n  k: i32\n}\nk = 9\n"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(set_value(c.text, "k", "9").value_or("<refused>"), c.expected);
  }
}

struct RefusalCase {
  std::string key;
  std::string value;
  std::string message;
};

TEST(SetValueTest, RefusesWhatNoLineCanHold) {
  const std::vector<RefusalCase> cases = {
      {"", "1", "Invalid value: cannot write the key '': a key cannot be empty"},
      {"a=b", "1", "Invalid value: cannot write the key 'a=b': an '=' in it would end the key early"},
      {"@k", "1", "Invalid value: cannot write the key '@k': a line starting with '@' is a directive"},
      {"# k", "1", "Invalid value: cannot write the key '# k': a '#' in it would begin a comment"},
      {" k", "1", "Invalid value: cannot write the key ' k': a key cannot begin or end with white space"},
      {"a]", "1", "Invalid value: cannot write the key 'a]': its brackets would hide the '=' that ends it"},
      {"k\nj", "1", "Invalid value: cannot write the key 'k\nj': a key cannot hold a line break"},
      {"k", "a\nb", "Invalid value: cannot write the value 'a\nb': a value cannot hold a line break"},
      {"k", "a\rb", "Invalid value: cannot write the value 'a\rb': a value cannot hold a line break"},
      {"k", "\" # ' # ", "Invalid value: cannot write the value '\" # ' # ': it would begin a comment however it is quoted"},
      // Written, bytes that are not UTF-8 would fail the whole file.
      {"k", "caf\xE9", "Invalid value: cannot write the value: it is not UTF-8"},
      {"k\xFF", "1", "Invalid value: cannot write the key: it is not UTF-8"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.key + " / " + c.value);
    const auto edited = set_value("x = 1\n", c.key, c.value);
    ASSERT_FALSE(edited.has_value()) << *edited;
    EXPECT_EQ(edited.error().message(), c.message);
  }
}

TEST(DeleteKeyTest, RemovesEveryAssignmentLineOfTheKey) {
  const std::vector<EditCase> cases = {
      {"k = 1\nx = 2\nk = 3", "x = 2\n"},
      {"x = 2\r\nk = 1 # gone\r\n# kept\r\n", "x = 2\r\n# kept\r\n"},
      {"@schema S {\n  k: i32\n}\nk = 1\n", "@schema S {\n  k: i32\n}\n"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(delete_key(c.text, "k").value_or("<refused>"), c.expected);
  }
  const auto missing = delete_key("x = 1\n", "k");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "Key not found: 'k'");
}

class ParseFileTextTest : public testing::ScratchDir {};

// An edited text is checked as the file it will become: imports resolve
// from the working directory and errors name the file.
TEST_F(ParseFileTextTest, ReadsATextAsTheFileAtAPath) {
  write("types.vyr", "@schema S { port: i32 }\n");
  const auto good = VYRL::parse_as("@import types.vyr\nport = 1\n", "conf.vyr");
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(good->get("port"), "1");

  const auto bad = VYRL::parse_as("@import types.vyr\nport = x\n", "conf.vyr");
  ASSERT_FALSE(bad.has_value());
  ASSERT_EQ(bad.error().frames().size(), 1u);
  EXPECT_EQ(bad.error().frames()[0], (Frame{"conf.vyr", 2, Frame::Origin::file}));

  const auto latin1 = VYRL::parse_as("name = caf\xE9\n", "conf.vyr");
  ASSERT_FALSE(latin1.has_value());
  EXPECT_EQ(latin1.error().message(), "IO Error: stream did not contain valid UTF-8");
  EXPECT_EQ(latin1.error().frames()[0], (Frame{"conf.vyr", 0, Frame::Origin::file}));
}

}  // namespace
}  // namespace vyrl
