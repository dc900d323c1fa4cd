#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "vyrl/error.hpp"

namespace vyrl {
namespace {

struct RenderCase {
  VyrlError error;
  std::string expected;
};

TEST(VyrlErrorTest, EveryKindRendersItsTemplate) {
  const std::vector<RenderCase> cases = {
      {VyrlError::io(ENOENT), "IO Error: No such file or directory (os error 2)"},
      {VyrlError::io(EISDIR), "IO Error: Is a directory (os error 21)"},
      {VyrlError::invalid_utf8(), "IO Error: stream did not contain valid UTF-8"},
      {VyrlError::parse(3, "key", "Missing assignment operator '='"),
       "Parse Error at line 3: 'key'. Reason: Missing assignment operator '='"},
      {VyrlError::parse(0, "", "Import path cannot be empty"),
       "Parse Error at line 0: ''. Reason: Import path cannot be empty"},
      {VyrlError::not_found("intt"), "Key not found: 'intt'"},
      {VyrlError::not_found(""), "Key not found: ''"},
      {VyrlError::invalid_value("Expected i32, got 'fast'"), "Invalid value: Expected i32, got 'fast'"},
      {VyrlError::invalid_type("i32", "Invalid value: x"), "Invalid type 'i32': Invalid value: x"},
      {VyrlError::directive("derive", "no base"), "Directive '@derive' error: no base"},
      {VyrlError::schema_validation("Server", "port", "i32", "Invalid value: bad"),
       "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Invalid value: bad"},
      // Fields go in verbatim: apostrophes and braces are not placeholders or escapes.
      {VyrlError::parse(1, "it's {}", "{} '"), "Parse Error at line 1: 'it's {}'. Reason: {} '"},
      {VyrlError::not_found("a'b{0}"), "Key not found: 'a'b{0}'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.error.message(), c.expected);
  }
}

TEST(VyrlErrorTest, SeparatorBeforeSchemaDescriptionIsAnEmDash) {
  const std::string message = VyrlError::schema_validation("S", "f", "t", "d").message();
  EXPECT_EQ(message, "Schema 'S' validation error: field 'f' (type 't') \xE2\x80\x94 d");
  EXPECT_EQ(message.find(" - "), std::string::npos);
}

TEST(VyrlErrorTest, WrappedErrorsNestOutermostFirst) {
  const auto inner = VyrlError::schema_validation("Endpoint", "port", "i32", "Invalid value: Expected i32");
  const auto outer = VyrlError::schema_validation("Server", "endpoint", "Endpoint", inner.message());
  EXPECT_EQ(outer.message(),
            "Schema 'Server' validation error: field 'endpoint' (type 'Endpoint') \u2014 "
            "Schema 'Endpoint' validation error: field 'port' (type 'i32') \u2014 Invalid value: Expected i32");
}

TEST(VyrlErrorTest, KindCanBeQueried) {
  EXPECT_TRUE(VyrlError::io(ENOENT).is<VyrlError::IoError>());
  EXPECT_TRUE(VyrlError::invalid_utf8().is<VyrlError::IoError>());
  const auto parse = VyrlError::parse(7, "line", "why");
  ASSERT_TRUE(parse.is<VyrlError::ParseError>());
  EXPECT_EQ(std::get<VyrlError::ParseError>(parse.kind()).line, 7u);
  EXPECT_FALSE(parse.is<VyrlError::NotFound>());
  EXPECT_TRUE(VyrlError::directive("schema", "x").is<VyrlError::DirectiveError>());
  EXPECT_EQ(VyrlError::schema_validation("a", "b", "c", "d").kind().index(), 6u);
}

TEST(VyrlErrorTest, QuotedTextsAreCutAtACharacterBoundary) {
  const std::string fits(kMaxQuotedCharacters, 'a');
  // Two-byte characters: a cut by bytes would split one of them.
  std::string wide;
  for (std::size_t i = 0; i <= kMaxQuotedCharacters; ++i) wide += "\u00e9";
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {fits, fits},
      {fits + "b", fits + "\u2026"},
      {wide, wide.substr(0, 2 * kMaxQuotedCharacters) + "\u2026"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(excerpt(c.text), c.expected);
    EXPECT_EQ(VyrlError::not_found(c.text).message(), "Key not found: '" + c.expected + "'");
  }
}

TEST(VyrlErrorTest, LongDescriptionsKeepTheirOutermostAndInnermostParts) {
  const std::string description = "outer " + std::string(kMaxDescriptionBytes, 'x') + " Expected i32, got 'x'";
  const std::string message = VyrlError::invalid_value(description).message();
  EXPECT_LE(message.size(), kMaxDescriptionBytes + 32);
  EXPECT_TRUE(message.starts_with("Invalid value: outer xxx"));
  EXPECT_TRUE(message.ends_with("xxx Expected i32, got 'x'"));
  EXPECT_NE(message.find("x\u2026x"), std::string::npos);
  // At the bound, nothing is cut.
  const std::string whole(kMaxDescriptionBytes, 'y');
  EXPECT_EQ(VyrlError::invalid_value(whole).message(), "Invalid value: " + whole);
}

}  // namespace
}  // namespace vyrl
