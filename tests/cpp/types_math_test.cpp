#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document/internals.hpp"
#include "types/math.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using Member = MathTypes::Member;

struct ValueCase {
  Member member;
  std::string_view value;
  std::string expected;  // empty means accepted
};

TEST(MathTypesTest, ChecksEveryNumberBeforeTheCount) {
  const std::vector<ValueCase> cases = {
      {Member::Vector3, "1, 2, 3", ""},
      {Member::Vector3, " 1 ,2.5e3, -inf ", ""},
      {Member::Vector3, "1,\xC2\xA0" "2\xE3\x80\x80,3", ""},  // Unicode spaces are trimmed too
      {Member::Vector3, "1, 2", "Invalid value: Expected 3 components, got 2"},
      {Member::Vector3, "1, 2, 3, 4", "Invalid value: Expected 3 components, got 4"},
      {Member::Vector3, "1, x, 3", "Invalid value: Invalid number: x"},
      {Member::Vector3, "[1, 2, 3]", "Invalid value: Invalid number: [1"},
      {Member::Vector3, "(1, 2, 3)", "Invalid value: Invalid number: (1"},
      {Member::Vector3, "1,,2", "Invalid value: Invalid number: "},
      // A bad number is reported even when the count is also wrong.
      {Member::Vector3, "1, 2, 3, 4, y", "Invalid value: Invalid number: y"},
      {Member::Vector2, "1, 2,", "Invalid value: Invalid number: "},
      {Member::Vector2, "", "Invalid value: Invalid number: "},
      {Member::Quaternion, "0, 0, 0, 1", ""},
      {Member::Quaternion, "0, 0, 1", "Invalid value: Expected 4 components, got 3"},
      {Member::Matrix3x3, "1,0,0, 0,1,0, 0,0,1", ""},
      {Member::Matrix4x4, "1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1", ""},
      {Member::Matrix4x4, "1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0", "Invalid value: Expected 16 components, got 15"},
  };
  const VYRL document;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value));
    const auto result = MathTypes(c.member).validate(c.value, detail::store_of(document));
    EXPECT_EQ(result ? "" : result.error().message(), c.expected);
    EXPECT_EQ(MathTypes(c.member).base_type(), PrimitiveType(PrimitiveType::Member::F64));
  }
}

}  // namespace
}  // namespace vyrl
