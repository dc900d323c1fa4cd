// Warnings for texts that load but almost surely say something else than
// meant: where each points, what it says and what may replace it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/diagnostics.hpp"

namespace vyrl {
namespace {

struct LintCase {
  std::string name;
  std::string text;
  Warning::Kind kind;
  std::uint32_t line;
  std::uint32_t column;
  std::string flagged;  // the bytes a fix replaces
  std::string message;
  std::vector<std::string> replacements;
};

TEST(LintTest, EachKindPointsAtWhatToChange) {
  using Kind = Warning::Kind;
  const std::vector<LintCase> cases = {
      {"misspelt field type", "@schema S { port: i23 }\n", Kind::unknown_type, 1, 18, "i23",
       "type 'i23' names nothing; did you mean 'i32'?", {"i32"}},
      {"misspelt list element", "@schema S {\n  ids: list<f46>\n}\n", Kind::unknown_type, 2, 12, "f46",
       "type 'f46' names nothing; did you mean 'f64'?", {"f64"}},
      {"misspelt schema", "@schema S { e: list<Endpont> }\n@schema Endpoint { host: string }\n", Kind::unknown_type, 1,
       20, "Endpont", "type 'Endpont' names nothing; did you mean 'Endpoint'?", {"Endpoint"}},
      {"misspelt alias", "@type port = i32\n@schema S { p: prot }\n", Kind::unknown_type, 2, 15, "prot",
       "type 'prot' names nothing; did you mean 'port' or 'physics::phot'?", {"port", "physics::phot"}},
      {"no name near", "@schema S { a: zzzzzzzz }\n", Kind::unknown_type, 1, 15, "zzzzzzzz",
       "type 'zzzzzzzz' names nothing", {}},
      {"misspelt built-in path", "@type d = time::durration\n", Kind::unknown_type, 1, 10, "time::durration",
       "type 'time::durration' names nothing; did you mean 'time::duration'?", {"time::duration"}},
      {"built-in path in an importing file", "@import base.vyr\n@schema S { d: time::durration }\n",
       Kind::unknown_type, 2, 15, "time::durration",
       "type 'time::durration' names nothing; did you mean 'time::duration'?", {"time::duration"}},
      {"misspelt primitive alias", "@type p = i23\n", Kind::unknown_type, 1, 10, "i23",
       "type 'i23' names nothing; did you mean 'i32'?", {"i32"}},
      {"list alias", "@type ids = list<i32>\n", Kind::alias_accepts_no_value, 1, 12, "list<i32>",
       "alias 'ids' accepts no value; write 'list<i32>' where it is used", {}},
      {"schema alias", "@schema E { host: string }\n@type e = E\n", Kind::alias_accepts_no_value, 2, 10, "E",
       "alias 'e' accepts no value; write 'E' where it is used", {}},
      {"alias of alias", "@type a = i32\n@type b = a\n", Kind::alias_accepts_no_value, 2, 10, "a",
       "alias 'b' accepts no value: 'a' is an alias, and aliases do not chain; define it as 'i32'", {"i32"}},
      {"byte-order mark", "\xEF\xBB\xBFkey = 1\n", Kind::byte_order_mark, 1, 0, "\xEF\xBB\xBF",
       "the byte-order mark becomes part of the first line", {""}},
      {"misspelt directive", "a = 1\n@shcema S { a: i32 }\n", Kind::unknown_directive, 2, 0, "@shcema",
       "'@shcema' is no directive; did you mean '@schema'?", {"@schema"}},
  };
  for (const LintCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Warning> warnings = lint(c.text);
    ASSERT_EQ(warnings.size(), 1u);
    const Warning& warning = warnings[0];
    EXPECT_EQ(warning.kind, c.kind);
    EXPECT_EQ(warning.where.line, c.line);
    EXPECT_EQ(warning.where.column, c.column);
    EXPECT_EQ(warning.where.text, c.flagged);
    EXPECT_EQ(c.text.substr(warning.where.offset, warning.where.text.size()), c.flagged);
    EXPECT_EQ(warning.message, c.message);
    EXPECT_EQ(warning.replacements, c.replacements);
  }
}

// The declared names compared with an unknown one are those of the nearest
// lengths first; the near name must be found on either side of the unknown
// one's length, among many, ties in the order the declarations are listed.
TEST(LintTest, FindsTheNearDeclaredNameAmongMany) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"portt", {"port"}},        // shorter
      {"prt", {"port"}},          // longer
      {"servce", {"service"}},
      {"porst", {"port", "post"}},  // each one edit away
  };
  std::string declared;
  for (int i = 0; i < 400; ++i) declared += "@type n" + std::to_string(i) + " = i32\n";
  declared += "@type post = i32\n@schema service { a: i32 }\n@type port = i32\n@schema host { a: i32 }\n";
  for (const auto& [unknown, expected] : cases) {
    SCOPED_TRACE(unknown);
    const std::vector<Warning> warnings = lint(declared + "@schema S { f: " + unknown + " }\n");
    ASSERT_EQ(warnings.size(), 1u);
    ASSERT_GE(warnings[0].replacements.size(), expected.size()) << warnings[0].message;
    EXPECT_EQ(std::vector<std::string>(warnings[0].replacements.begin(),
                                       warnings[0].replacements.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
  }
}

// Past the comparisons a file may spend, a name found further than one edit
// away may not be the nearest, so none is offered rather than a wrong one.
TEST(LintTest, OffersNoFarNameOnceTheComparisonsRunOut) {
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    const std::string n = std::to_string(100000 + i);
    text += "@type name" + n + " = nome" + n + "\n";
  }
  for (const Warning& warning : lint(text)) {
    SCOPED_TRACE(warning.message);
    const std::string unknown(warning.where.text);
    for (const std::string& name : warning.replacements) EXPECT_EQ(name, "na" + unknown.substr(2));
  }
}

TEST(LintTest, NamesDeclaredAnywhereOrElsewhereAreKnown) {
  const std::vector<std::string> clean = {
      "",
      "port = 8080\n",
      // Declared after its use: checks look names up when a value comes.
      "@schema S { e: Endpoint, p: port, l: list<port>, m: list<Endpoint> }\n"
      "@schema Endpoint { host: string }\n@type port = i32\n",
      "@type sizes = list<physics::byte>\n@type c = color\n@type s = physics::meter_per_second\n",
      "@schema S { t*: time::duration, u: physics::METER }\n",
      // An imported or derived file may declare what this one uses.
      "@import base.vyr\n@schema S { p: port, q: list<Endpoint> }\n",
      "@derive base.vyr\n@schema S { p: port }\n",
      // Unknown, but nothing like a directive: the error says enough.
      "@frobnicate x\n",
      // A mark further in is a character of a value, not a mark.
      "key = \xEF\xBB\xBF\n",
  };
  for (const std::string& text : clean) {
    SCOPED_TRACE(text);
    for (const Warning& warning : lint(text)) ADD_FAILURE() << warning.message;
  }
}

TEST(LintTest, AnAliasOfABrokenAliasOffersNoFix) {
  const auto warnings = lint("@type a = list<i32>\n@type b = a\n");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1].message, "alias 'b' accepts no value: 'a' is an alias, and aliases do not chain");
  EXPECT_TRUE(warnings[1].replacements.empty());
}

TEST(LintTest, ReportsEveryWarningInTextOrder) {
  const auto warnings = lint("@type a = i32\n@type b = a\n@schema S { x: i23, y: list<f46> }\n");
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[0].where.text, "a");
  EXPECT_EQ(warnings[1].where.text, "i23");
  EXPECT_EQ(warnings[2].where.text, "f46");
}

TEST(LintTest, ExamplesHaveNoWarnings) {
  const auto examples = testing::example_files();
  for (const auto& [path, text] : examples) {
    SCOPED_TRACE(path.string());
    for (const Warning& warning : lint(text)) ADD_FAILURE() << warning.message;
  }
  EXPECT_GE(examples.size(), 4u);
}

}  // namespace
}  // namespace vyrl
