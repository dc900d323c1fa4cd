#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "directive/directive.hpp"
#include "document/internals.hpp"
#include "store_audit.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Values = std::map<std::string, std::string>;

Values values_of(const VYRL& document) {
  return Values(document.entries().begin(), document.entries().end());
}

struct MergeCase {
  std::string text;
  std::string error;  // empty when the merge succeeds
  Values values;      // what the document holds afterwards, success or not
};

void check_merges(const std::vector<MergeCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    VYRL document;
    const Status merged = document.merge_content(c.text);
    EXPECT_EQ(merged ? std::string() : merged.error().message(), c.error);
    EXPECT_EQ(values_of(document), c.values);
  }
}

TEST(MergeContentTest, StoresAssignments) {
  check_merges({
      {"", "", {}},
      {"\n\n   \n# only a comment\n\t# another\n", "", {}},
      {"a = 1\na = 2\nA = 3", "", {{"a", "2"}, {"A", "3"}}},
      {"x = 'quoted'\ny = [1, 2]\nz = { a = 1 }", "", {{"x", "quoted"}, {"y", "[1, 2]"}, {"z", "{ a = 1 }"}}},
      {"name = 'alpha'  # label\nport = 8080", "", {{"name", "alpha"}, {"port", "8080"}}},
      {"color = #FF8800 # orange", "", {{"color", "#FF8800"}}},
      {"  spaced key  =  \"  inner  \"  ", "", {{"spaced key", "  inner  "}}},
      {"last = no newline", "", {{"last", "no newline"}}},
      {"k = \u3000v\u3000", "", {{"k", "v"}}},
  });
}

TEST(MergeContentTest, ReportsLineErrorsWithPhysicalLineNumbers) {
  check_merges({
      {"a = 1\n\n# c\nkey", "Parse Error at line 4: 'key'. Reason: Missing assignment operator '='", {{"a", "1"}}},
      {"= 5", "Parse Error at line 1: '= 5'. Reason: Key cannot be empty", {}},
      {"a] = 1 # why", "Parse Error at line 1: 'a] = 1'. Reason: Missing assignment operator '='", {}},
      {"@unknown foo", "Parse Error at line 1: 'unknown foo'. Reason: Unknown directive: @unknown", {}},
      {"@Import file", "Parse Error at line 1: 'Import file'. Reason: Unknown directive: @Import", {}},
      {"a = 1\nb = 2\n\n@", "Parse Error at line 4: ''. Reason: Empty directive", {{"a", "1"}, {"b", "2"}}},
      {"@ name", "Parse Error at line 1: ' name'. Reason: Empty directive", {}},
      {"@\u3000name", "Parse Error at line 1: '\u3000name'. Reason: Empty directive", {}},
      {"@schema{ a: i32 }", "Parse Error at line 1: 'schema{ a: i32 }'. Reason: Unknown directive: @schema{", {}},
      {"@unknown\u2003 two  spaces", "Parse Error at line 1: 'unknown\u2003 two  spaces'. Reason: Unknown directive: @unknown",
       {}},
      // No rollback: everything before the failing line stays, nothing after it is read.
      {"a = 1\nb = 2\nbad\nc = 3", "Parse Error at line 3: 'bad'. Reason: Missing assignment operator '='",
       {{"a", "1"}, {"b", "2"}}},
      // Only directives open blocks; "{" as a value is an ordinary one-line assignment.
      {"key = {\na = 1\n}", "Parse Error at line 3: '}'. Reason: Missing assignment operator '='",
       {{"key", "{"}, {"a", "1"}}},
  });
}

TEST(MergeContentTest, JoinsDirectiveBlocksWithSingleSpaces) {
  // An unknown directive echoes its joined text, which shows how the block was built.
  check_merges({
      {"a = 1\n@unknown {\n  x = 1  # note\n\n}\nb = 2",
       "Parse Error at line 2: 'unknown { x = 1  }'. Reason: Unknown directive: @unknown", {{"a", "1"}}},
      {"@unknown {  # opens\n# only a comment\ny = 2 }",
       "Parse Error at line 1: 'unknown {  y = 2 }'. Reason: Unknown directive: @unknown", {}},
      // Still open at the end: processed as it stands, under its opening line.
      {"\n\n@unknown { a: {\nb = 1\n}", "Parse Error at line 3: 'unknown { a: { b = 1 }'. Reason: Unknown directive: @unknown",
       {}},
      // Surplus closing braces also complete a block.
      {"@unknown { a\n} }\nc = 3", "Parse Error at line 1: 'unknown { a } }'. Reason: Unknown directive: @unknown", {}},
      // A comment is cut again from the joined text.
      // A quote spanning lines hides a "#" line by line, but not in the joined text.
      {"@unknown { 'a\nb' # c }", "Parse Error at line 1: 'unknown { 'a b''. Reason: Unknown directive: @unknown", {}},
      // Inside a block, lines that look like directives or bad assignments are just text.
      {"@unknown {\n@\nno equals\n}", "Parse Error at line 1: 'unknown { @ no equals }'. Reason: Unknown directive: @unknown",
       {}},
  });
}

TEST(MergeContentTest, LineEndings) {
  check_merges({
      {"a = 1\r\nb = 2\r\n", "", {{"a", "1"}, {"b", "2"}}},
      {"a = 1\r\nb = 'x\r'\r\n", "", {{"a", "1"}, {"b", "x\r"}}},
      // A lone "\r" is no line end: the whole text is one assignment.
      {"a = 1\rb = 2", "", {{"a", "1\rb = 2"}}},
      {"a = 1\r\nbad\r\n", "Parse Error at line 2: 'bad'. Reason: Missing assignment operator '='", {{"a", "1"}}},
      {"a = 1\n\r\nbad", "Parse Error at line 3: 'bad'. Reason: Missing assignment operator '='", {{"a", "1"}}},
  });
}

TEST(MergeContentTest, ByteOrderMarkIsPartOfTheFirstLine) {
  check_merges({
      {"\xEF\xBB\xBF# note\na = 1", "Parse Error at line 1: '\xEF\xBB\xBF# note'. Reason: Missing assignment operator '='",
       {}},
      {"\xEF\xBB\xBFkey = 1", "", {{"\xEF\xBB\xBFkey", "1"}}},
  });
}

TEST(MergeContentTest, TypedKeysAreCheckedWhenStoredAndNeverAgain) {
  const std::string server = "@schema Server { port: i32, timeout*: f64 }\n";
  const std::string port_error =
      "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Invalid value: Expected i32, got 'fast'";
  check_merges({
      {server + "name = 'alpha'\nport = fast\nlater = 1", port_error, {{"name", "alpha"}}},
      // A refused value leaves the earlier one in place.
      {server + "port = 1\nport = fast", port_error, {{"port", "1"}}},
      // The check sees the value as stored: trimmed and unquoted.
      {server + "port = ' 8080 '",
       "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Invalid value: Expected i32, got ' 8080 '",
       {}},
      {server + "port = \"8080\"", "", {{"port", "8080"}}},
      {server + "timeout = slow",
       "Schema 'Server' validation error: field 'timeout' (type 'f64') \u2014 Invalid value: Expected f64, got 'slow'",
       {}},
      // Assignments before the declaration are neither checked then nor later.
      {"port = fast\n" + server + "other = 1", "", {{"port", "fast"}, {"other", "1"}}},
      // The field's type name is resolved when the value arrives, not when the schema is declared.
      {"@schema S { p: port }\np = x",
       "Schema 'S' validation error: field 'p' (type 'port') \u2014 Unknown type 'port'", {}},
      {"@schema S { p: port }\n@type port = string\np = x", "", {{"p", "x"}}},
      {"@schema E { p: i32 }\n@schema S { e: E }\ne = { p = 1 }", "", {{"e", "{ p = 1 }"}}},
      // A schema redeclared without a field stops typing that key, unless another schema declares it.
      {"@schema S { p: i32 }\n@schema S { q: i32 }\np = x", "", {{"p", "x"}}},
      {"@schema S { p: i32 }\n@schema T { p: bool }\n@schema S { q: i32 }\np = x",
       "Schema 'T' validation error: field 'p' (type 'bool') \u2014 Invalid value: Expected bool (true/false/1/0), got 'x'",
       {}},
      {"@schema S { p: i32 }\n@schema S { q: i32 }\n@schema S { p: bool }\np = 1", "", {{"p", "1"}}},
  });
}

// A long block is joined whole; its speed is watched by the merge benchmark.
TEST(MergeContentTest, LongDirectiveBlocksAreJoinedWhole) {
  constexpr int kFields = 20000;
  std::string text = "@schema S {\n";
  for (int i = 0; i < kFields; ++i) text.append("f").append(std::to_string(i)).append(": i32\n");
  text += "}\nf19999 = 7\n";
  VYRL document;
  ASSERT_TRUE(document.merge_content(text));
  EXPECT_EQ((*detail::store_of(document).schema("S")).fields.size(), static_cast<std::size_t>(kFields));
  EXPECT_EQ(error_message(document.merge_content("f0 = x")),
            "Schema 'S' validation error: field 'f0' (type 'i32') \u2014 Invalid value: Expected i32, got 'x'");
}

TEST(MergeContentTest, SuccessiveMergesAccumulate) {
  VYRL document;
  ASSERT_TRUE(document.merge_content("a = 1\nb = 2"));
  EXPECT_EQ(error_message(document.merge_content("b = 3\nc")),
            "Parse Error at line 2: 'c'. Reason: Missing assignment operator '='");
  ASSERT_TRUE(document.merge_content("d = 4"));
  EXPECT_EQ(values_of(document), (Values{{"a", "1"}, {"b", "3"}, {"d", "4"}}));
}

TEST(DocumentTest, StartsEmptyWithTheFourDirectives) {
  const VYRL document;
  EXPECT_TRUE(detail::store_of(document).values().empty());
  EXPECT_TRUE(detail::store_of(document).types().empty());
  EXPECT_TRUE(StoreAudit::schema_count(detail::store_of(document)) == 0);
  for (const std::string_view name : {"import", "type", "schema", "derive"}) {
    SCOPED_TRACE(name);
    ASSERT_NE(find_directive(name), nullptr);
    EXPECT_EQ(find_directive(name)->name, name);
  }
  EXPECT_EQ(find_directive("Import"), nullptr);
}

using LoadTest = testing::ScratchDir;

TEST_F(LoadTest, ReadsAWholeFile) {
  write("settings.vyr", "# settings\nname = 'alpha'\r\nport = 8080\n");
  auto document = VYRL::load("settings.vyr");
  ASSERT_TRUE(document) << error_message(document);
  EXPECT_EQ(values_of(*document), (Values{{"name", "alpha"}, {"port", "8080"}}));

  write("empty.vyr", "");
  auto empty = VYRL::load("empty.vyr");
  ASSERT_TRUE(empty) << error_message(empty);
  EXPECT_EQ(empty->size(), 0u);

  // Larger than any first guess at a buffer size, so the read loop has to grow.
  std::string big;
  for (int i = 0; i < 5000; ++i) {
    big += "key";
    big += std::to_string(i);
    big += " = ";
    big += std::to_string(i);
    big += '\n';
  }
  write("big.vyr", big);
  auto loaded = VYRL::load(dir().string() + "/big.vyr");
  ASSERT_TRUE(loaded) << error_message(loaded);
  EXPECT_EQ(loaded->size(), 5000u);
  EXPECT_EQ(loaded->get("key4999"), "4999");
}

TEST_F(LoadTest, ReportsUnreadableFilesAndBadText) {
  write("bad.vyr", "a = \xC3\x28\n");
  write("broken.vyr", "a = 1\nb\n");
  std::filesystem::create_directory("folder.vyr");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing.vyr", "IO Error: No such file or directory (os error 2)"},
      {"folder.vyr", "IO Error: Is a directory (os error 21)"},
      {"bad.vyr", "IO Error: stream did not contain valid UTF-8"},
      {"broken.vyr", "Parse Error at line 2: 'b'. Reason: Missing assignment operator '='"},
      {"", "IO Error: No such file or directory (os error 2)"},
      {std::string("a\0b", 3), "IO Error: Invalid argument (os error 22)"},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(error_message(VYRL::load(path)), expected);
  }
}

}  // namespace
}  // namespace vyrl
