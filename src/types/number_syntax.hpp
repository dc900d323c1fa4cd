#pragma once

#include <string_view>

namespace vyrl {

// The two textual number rules shared by the scalar, time, unit and math types.
// Both look at the whole text: no trimming, no locale, no partial matches.

// An optional sign, then ASCII digits only, within the signed 32-bit range.
// Leading zeros are free: "0002147483647" fits, "0002147483648" does not.
bool is_i32_syntax(std::string_view text) noexcept;

// The same without the range: an optional sign, then one or more ASCII digits.
bool is_integer_syntax(std::string_view text) noexcept;

// An optional sign, then either inf/infinity/nan in any letter case, or a decimal
// mantissa with at least one digit and at most one ".", then an optional exponent.
// Magnitude is not checked: "1e400" is a number that happens to read as infinity.
bool is_number_syntax(std::string_view text) noexcept;

}  // namespace vyrl
