#include "vyrl/error.hpp"
#include "types/time.hpp"

#include <string>

#include "types/number_syntax.hpp"

namespace vyrl {
namespace {

std::string invalid_datetime(std::string_view value) {
  return "Invalid DateTime '" + excerpt(value) +
         "': expected ISO 8601 format (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)";
}

std::string expected_number(std::string_view member_name, std::string_view value) {
  return "Invalid " + std::string(member_name) + " '" + excerpt(value) + "': expected a number";
}

// Only the leading "YYYY-MM-DD" is looked at; whatever time part follows is the
// writer's business. Every byte compared is ASCII, so a multi-byte character in
// the first ten bytes simply fails.
bool starts_with_date(std::string_view value) noexcept {
  constexpr std::string_view kShape = "dddd-dd-dd";
  if (value.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = value[i];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
  }
  return true;
}

}  // namespace

Result<TimeTypes> TimeTypes::from_name(std::string_view name) {
  for (std::size_t i = 0; i < kTimeMembers.size(); ++i) {
    if (kTimeMembers[i].type_name == name) return TimeTypes(static_cast<Member>(i));
  }
  return fail(VyrlError::not_found(std::string(name)));
}

Status TimeTypes::validate(std::string_view value, const TypeScope& /*scope*/) const {
  if (member_ == Member::Datetime) {
    if (starts_with_date(value)) return {};
    return fail(VyrlError::invalid_value(invalid_datetime(value)));
  }
  // An ISO 8601 duration ("PT5M") is taken on trust from its designator.
  if (member_ == Member::Duration && value.starts_with('P')) return {};
  if (is_number_syntax(value)) return {};
  return fail(VyrlError::invalid_value(
      expected_number(kTimeMembers[static_cast<std::size_t>(member_)].message_name, value)));
}

}  // namespace vyrl
