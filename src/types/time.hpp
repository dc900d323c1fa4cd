#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "vyrl/error.hpp"
#include "types/primitive_type.hpp"
#include "types/type.hpp"

namespace vyrl {

// The time types written "time::member". Shallow shape checks only: no calendar
// arithmetic and no ranges.
class TimeTypes final : public Type {
 public:
  enum class Member : std::uint8_t { Datetime, Duration, Year, Day, Hour, Minute };

  explicit TimeTypes(Member member) noexcept : member_(member) {}

  // Exact, lower-case member name (the part after "time::"); NotFound carries `name`.
  static Result<TimeTypes> from_name(std::string_view name);

  Member member() const noexcept { return member_; }

  PrimitiveType base_type() const override { return PrimitiveType(PrimitiveType::Member::F64); }
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  Member member_;
};

struct TimeMemberInfo {
  std::string_view type_name;     // after "time::"
  std::string_view message_name;  // how messages spell it
};

// Indexed by TimeTypes::Member.
inline constexpr std::array<TimeMemberInfo, 6> kTimeMembers{{
    {"datetime", "DateTime"},
    {"duration", "Duration"},
    {"year", "Year"},
    {"day", "Day"},
    {"hour", "Hour"},
    {"minute", "Minute"},
}};

}  // namespace vyrl
