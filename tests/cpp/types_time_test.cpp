#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/time.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Member = TimeTypes::Member;

constexpr std::string_view kDateTimeHint = "': expected ISO 8601 format (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)";

struct ValueCase {
  Member member;
  std::string_view value;
  std::string expected;  // empty means accepted
};

std::string bad_datetime(std::string_view value) {
  return "Invalid value: Invalid DateTime '" + std::string(value) + std::string(kDateTimeHint);
}

TEST(TimeTypesTest, ValidatesValuesWithExactMessages) {
  const std::vector<ValueCase> cases = {
      {Member::Datetime, "2024-01-15", ""},
      {Member::Datetime, "2024-01-15T10:30:00", ""},
      {Member::Datetime, "2024-99-99", ""},
      {Member::Datetime, "2024-1-15", bad_datetime("2024-1-15")},
      {Member::Datetime, "2024/01/15", bad_datetime("2024/01/15")},
      {Member::Datetime, "+024-01-15", bad_datetime("+024-01-15")},
      {Member::Datetime, "2024-01-1", bad_datetime("2024-01-1")},
      {Member::Datetime, "", bad_datetime("")},
      // The tenth byte starts a two-byte letter: no date, and nothing is cut.
      {Member::Datetime, "2024-01-1\xC3\xA9", bad_datetime("2024-01-1\xC3\xA9")},
      {Member::Duration, "PT5M", ""}, {Member::Duration, "P-nonsense", ""}, {Member::Duration, "-1.5", ""},
      {Member::Duration, "pT5M", "Invalid value: Invalid Duration 'pT5M': expected a number"},
      {Member::Duration, "5 minutes", "Invalid value: Invalid Duration '5 minutes': expected a number"},
      {Member::Duration, "", "Invalid value: Invalid Duration '': expected a number"},
      {Member::Year, "2024.5", ""},
      {Member::Year, "P1Y", "Invalid value: Invalid Year 'P1Y': expected a number"},
      {Member::Day, "x", "Invalid value: Invalid Day 'x': expected a number"},
      {Member::Hour, "ten", "Invalid value: Invalid Hour 'ten': expected a number"},
      {Member::Minute, "inf", ""},
      {Member::Minute, " 5", "Invalid value: Invalid Minute ' 5': expected a number"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value));
    const auto result = TimeTypes(c.member).validate(c.value, detail::store_of(document));
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
  }
}

TEST(TimeTypesTest, FromNameTakesOnlyTheLowerCaseMemberNames) {
  const std::vector<std::pair<std::string_view, Member>> known = {
      {"datetime", Member::Datetime}, {"duration", Member::Duration}, {"year", Member::Year},
      {"day", Member::Day},           {"hour", Member::Hour},         {"minute", Member::Minute}};
  for (const auto& [name, member] : known) {
    const auto found = TimeTypes::from_name(name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(found->member(), member);
    EXPECT_EQ(found->base_type(), PrimitiveType(PrimitiveType::Member::F64));
  }
  for (const std::string_view name : {"DateTime", "Minute", "date", "time", "", "year "}) {
    EXPECT_EQ(error_message(TimeTypes::from_name(name)), "Key not found: '" + std::string(name) + "'");
  }
}

}  // namespace
}  // namespace vyrl
