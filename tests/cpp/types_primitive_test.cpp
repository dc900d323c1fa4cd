#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/number_syntax.hpp"
#include "types/primitive_type.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Member = PrimitiveType::Member;

struct SyntaxCase {
  std::string_view text;
  bool accepted;
};

TEST(NumberSyntaxTest, IntegerSyntaxKeepsToTheSigned32BitRange) {
  const std::vector<SyntaxCase> cases = {
      {"0", true},           {"-0", true},          {"+0", true},           {"007", true},
      {"+5", true},          {"2147483647", true},  {"-2147483648", true},  {"0002147483647", true},
      {"-0002147483648", true},
      {"2147483648", false}, {"-2147483649", false}, {"0002147483648", false}, {"9999999999", false},
      {"10000000000", false}, {"4294967296", false},
      {"", false},           {"+", false},          {"-", false},           {"+-1", false},
      {"1.0", false},        {"1e3", false},        {" 1", false},          {"1 ", false},
      {"1_000", false},      {"0x10", false},       {"\xD9\xA1", false},  // ARABIC-INDIC DIGIT ONE
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(is_i32_syntax(c.text), c.accepted);
  }
}

TEST(NumberSyntaxTest, NumberSyntaxIsDecimalOrANamedSpecialValue) {
  const std::vector<SyntaxCase> cases = {
      {"3.14", true},  {"-2", true},     {"1.", true},       {".5", true},   {"-.5", true},   {"1e-3", true},
      {"2E+10", true}, {"1e400", true},  {"1e-400", true},   {"+inf", true}, {"-INF", true},  {"NaN", true},
      {"Infinity", true}, {"-iNfInItY", true}, {"00.00e00", true},
      {".", false},    {"e5", false},    {"1e", false},      {"1e+", false}, {"1.2.3", false}, {"1_000", false},
      {"0x10", false}, {" 1", false},    {"1 ", false},      {"", false},    {"+", false},     {"-.", false},
      {"infin", false}, {"nan1", false}, {"++1", false},     {"1,5", false}, {"1e5.0", false}, {"inf inity", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(is_number_syntax(c.text), c.accepted);
  }
}

struct ValueCase {
  Member member;
  std::string_view value;
  std::string expected;  // empty means accepted
};

TEST(PrimitiveTypeTest, ValidatesValuesWithExactMessages) {
  const std::vector<ValueCase> cases = {
      {Member::I32, "-0", ""},
      {Member::I32, "1.0", "Invalid value: Expected i32, got '1.0'"},
      {Member::I32, "", "Invalid value: Expected i32, got ''"},
      {Member::F64, "Infinity", ""},
      {Member::F64, " 1", "Invalid value: Expected f64, got ' 1'"},
      {Member::String, "", ""},
      {Member::Bool, "True", ""}, {Member::Bool, "FALSE", ""}, {Member::Bool, "1", ""}, {Member::Bool, "0", ""},
      {Member::Bool, "01", "Invalid value: Expected bool (true/false/1/0), got '01'"},
      {Member::Bool, " true", "Invalid value: Expected bool (true/false/1/0), got ' true'"},
      {Member::Bool, "", "Invalid value: Expected bool (true/false/1/0), got ''"},
      {Member::Color, "#FF0000", ""}, {Member::Color, "#ff000080", ""}, {Member::Color, "#aBc123", ""},
      {Member::Color, "FF0000", "Invalid value: Expected color in #RRGGBB or #RRGGBBAA format, got 'FF0000'"},
      {Member::Color, "#FF00000", "Invalid value: Expected color in #RRGGBB or #RRGGBBAA format, got '#FF00000'"},
      {Member::Color, "", "Invalid value: Expected color in #RRGGBB or #RRGGBBAA format, got ''"},
      {Member::Color, "#GG0000", "Invalid value: Invalid hex color '#GG0000'"},
      {Member::Color, "#+12345", "Invalid value: Invalid hex color '#+12345'"},
      // Lengths are counted in bytes: four two-byte letters make a 9-byte value.
      {Member::Color, "#\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       "Invalid value: Invalid hex color '#\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9'"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value));
    const auto result = PrimitiveType(c.member).validate(c.value, detail::store_of(document));
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
  }
}

TEST(PrimitiveTypeTest, FromNameIsExactAndCaseSensitive) {
  const std::vector<std::pair<std::string_view, Member>> known = {
      {"i32", Member::I32}, {"f64", Member::F64}, {"string", Member::String}, {"bool", Member::Bool},
      {"color", Member::Color}};
  for (const auto& [name, member] : known) {
    const auto found = PrimitiveType::from_name(name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(found->member(), member);
    EXPECT_EQ(found->name(), name);
    EXPECT_EQ(found->base_type(), PrimitiveType(member));
  }
  for (const std::string_view name : {"I32", "int", "String", "", " i32", "i32 "}) {
    EXPECT_EQ(error_message(PrimitiveType::from_name(name)), "Key not found: '" + std::string(name) + "'");
  }
}

}  // namespace
}  // namespace vyrl
