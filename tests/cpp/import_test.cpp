#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Values = std::map<std::string, std::string>;

class ImportTest : public testing::ScratchDir {
 protected:
  // Merges `text` into a fresh document; returns the error message ("" on success).
  std::string merge(std::string_view text) {
    const Status merged = document.merge_content(text);
    return merged ? std::string() : merged.error().message();
  }
  Values values() const { return Values(document.entries().begin(), document.entries().end()); }

  VYRL document;
};

TEST_F(ImportTest, MergesTheFileIntoTheImportingDocument) {
  write("common.vyr", "host = alpha\nport = 1");
  write("my settings.vyr", "spaced = yes");
  write(" a.vyr ", "padded = yes");
  write("empty.vyr", "");
  std::filesystem::create_directory("sub");
  write("sub/inner.vyr", "@import common.vyr\nnested = yes");
  write("sub/common.vyr", "host = beside the importing file");
  write("'odd\"", "odd = yes");

  struct Case {
    std::string line;
    Values values;
  };
  const std::vector<Case> cases = {
      {"@import common.vyr", {{"host", "alpha"}, {"port", "1"}}},
      {"@import \"common.vyr\"", {{"host", "alpha"}, {"port", "1"}}},
      {"@import 'common.vyr'   # comment", {{"host", "alpha"}, {"port", "1"}}},
      {"@import\u3000\u3000common.vyr", {{"host", "alpha"}, {"port", "1"}}},
      {"@import \"my settings.vyr\"", {{"spaced", "yes"}}},
      {"@import my settings.vyr", {{"spaced", "yes"}}},
      {"@import \" a.vyr \"", {{"padded", "yes"}}},
      {"@import empty.vyr", {}},
      {"@import 'odd\"", {{"odd", "yes"}}},  // mismatched quotes stay part of the name
      // Paths inside an imported file resolve against the working directory too.
      {"@import sub/inner.vyr", {{"host", "alpha"}, {"port", "1"}, {"nested", "yes"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    document = VYRL();
    EXPECT_EQ(merge(c.line), "");
    EXPECT_EQ(values(), c.values);
  }
}

TEST_F(ImportTest, LastAssignmentWinsAcrossTheImport) {
  write("common.vyr", "host = imported\nport = 1");
  EXPECT_EQ(merge("host = local\n@import common.vyr\nport = 2"), "");
  EXPECT_EQ(values(), (Values{{"host", "imported"}, {"port", "2"}}));
}

TEST_F(ImportTest, ReportsErrorsAsRaised) {
  write("broken.vyr", "a = 1\nb = 2\nthird line\nc = 3");
  write("open.vyr", "@unknown {\nx = 1");
  write("latin1.vyr", "name = caf\xE9");
  std::filesystem::create_directory("folder");

  struct Case {
    std::string text;
    std::string error;
    Values values;
  };
  const std::vector<Case> cases = {
      {"@import", "Parse Error at line 0: ''. Reason: Import path cannot be empty", {}},
      {"@import \u3000", "Parse Error at line 0: ''. Reason: Import path cannot be empty", {}},
      {"@import \"\"", "IO Error: No such file or directory (os error 2)", {}},
      {"@import missing.vyr", "IO Error: No such file or directory (os error 2)", {}},
      {"@import \"common.vyr", "IO Error: No such file or directory (os error 2)", {}},
      {"@import folder", "IO Error: Is a directory (os error 21)", {}},
      {"@import latin1.vyr", "IO Error: stream did not contain valid UTF-8", {}},
      // Lines count from 1 again inside the imported file; earlier lines stay stored.
      {"before = 0\n\n@import broken.vyr\nafter = 1",
       "Parse Error at line 3: 'third line'. Reason: Missing assignment operator '='",
       {{"before", "0"}, {"a", "1"}, {"b", "2"}}},
      // A block left open ends with the imported text, not in the importer.
      {"@import open.vyr\n}",
       "Parse Error at line 1: 'unknown { x = 1'. Reason: Unknown directive: @unknown", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    document = VYRL();
    EXPECT_EQ(merge(c.text), c.error);
    EXPECT_EQ(values(), c.values);
  }
}

TEST_F(ImportTest, CyclesEndInAParseError) {
  write("self.vyr", "s = 1\n@import   self.vyr");
  write("a.vyr", "a = 1\n@import b.vyr");
  write("b.vyr", "b = 1\n@import 'c.vyr'");
  write("c.vyr", "c = 1\n@import ./a.vyr");
  // Up to its NUL the path names the file being read; the NUL must still make it invalid.
  write("nul.vyr", std::string("n = 1\n@import nul.vyr\0x", 23));

  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"@import nul.vyr", "IO Error: Invalid argument (os error 22)"},
      // The line text is the argument text exactly as the directive received it.
      {"@import self.vyr", "Parse Error at line 0: '  self.vyr'. Reason: Cycle detected: 'self.vyr' is already being loaded"},
      // Spelled differently, but the same file.
      {"@import a.vyr", "Parse Error at line 0: './a.vyr'. Reason: Cycle detected: './a.vyr' is already being loaded"},
      {"@import c.vyr", "Parse Error at line 0: ''c.vyr''. Reason: Cycle detected: 'c.vyr' is already being loaded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    document = VYRL();
    EXPECT_EQ(merge(c.text), c.error);
  }
  // Everything read before the cycle closed stays, and the guard is released:
  // a later import of the same files starts afresh.
  EXPECT_EQ(values(), (Values{{"a", "1"}, {"b", "1"}, {"c", "1"}}));
  write("c.vyr", "c = 2");
  EXPECT_EQ(merge("@import a.vyr"), "");
  EXPECT_EQ(values(), (Values{{"a", "1"}, {"b", "1"}, {"c", "2"}}));
}

TEST_F(ImportTest, CycleThroughLoad) {
  write("loop.vyr", "x = 1\n@import loop.vyr");
  EXPECT_EQ(error_message(VYRL::load("loop.vyr")),
            "Parse Error at line 0: 'loop.vyr'. Reason: Cycle detected: 'loop.vyr' is already being loaded");
}

TEST_F(ImportTest, DeepChainsStopAtTheNestingCap) {
  constexpr int kFiles = 70;
  const auto file_name = [](int i) {
    std::string name = "f";
    name += std::to_string(i);
    name += ".vyr";
    return name;
  };
  for (int i = 0; i < kFiles; ++i) {
    std::string text = "k";
    text += std::to_string(i);
    text += " = 1\n";
    if (i + 1 < kFiles) text += "@import " + file_name(i + 1);
    write(file_name(i), text);
  }
  EXPECT_EQ(merge("@import f0.vyr"),
            "Parse Error at line 0: 'f64.vyr'. Reason: Files nest more than 64 levels deep at 'f64.vyr'");
  EXPECT_EQ(values().size(), 64u);

  // A chain that fits is read to its end.
  document = VYRL();
  EXPECT_EQ(merge("@import f6.vyr"), "");
  EXPECT_EQ(values().size(), static_cast<std::size_t>(kFiles - 6));
}

TEST_F(ImportTest, FilesReachedTwiceWithoutACycleAreReadTwice) {
  write("a.vyr", "@import b.vyr\n@import c.vyr\na = 1");
  write("b.vyr", "@import d.vyr\nd = from b");
  write("c.vyr", "@import d.vyr");
  write("d.vyr", "d = from d\ncount = d");
  EXPECT_EQ(merge("@import a.vyr"), "");
  EXPECT_EQ(values(), (Values{{"a", "1"}, {"d", "from d"}, {"count", "d"}}));
}

}  // namespace
}  // namespace vyrl
