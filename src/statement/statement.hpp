#pragma once

#include <expected>
#include <string_view>

namespace vyrl {

// A logical line is either an assignment or, when it starts with "@", a
// directive. These split one into its parts; they never allocate.

// Messages of parse_assignment; the loader wraps them into a ParseError.
inline constexpr std::string_view kMissingAssignment = "Missing assignment operator '='";
inline constexpr std::string_view kEmptyKey = "Key cannot be empty";

struct Assignment {
  std::string_view key;
  std::string_view value;
};
// Splits "key = value" at the first "=" outside brackets and braces.
std::expected<Assignment, std::string_view> parse_assignment(std::string_view line) noexcept;

struct DirectiveLine {
  std::string_view text;       // the line without its "@", as errors quote it
  std::string_view name;       // up to the first white space, trimmed; may be empty
  std::string_view arguments;  // after that white-space character, as it stands
};
// `line` starts with "@".
DirectiveLine split_directive(std::string_view line) noexcept;

}  // namespace vyrl
