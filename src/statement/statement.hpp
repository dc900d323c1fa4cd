#pragma once

#include <cstddef>
#include <expected>
#include <string_view>

#include "lines/lines.hpp"
#include "text/text.hpp"
#include "vyrl/error.hpp"

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
// The same for a plain line (see LogicalLine::plain) with its first "=" at
// `equals`: with no bracket that is the separator, with no quote nothing
// unwraps, and with no control byte but tab, blanks are the bytes up to a
// space. The key is empty exactly when the "=" comes first.
inline Assignment split_plain_assignment(std::string_view text, std::size_t equals) noexcept {
  // The line is trimmed already, so the key starts and the value ends on
  // something other than a blank: only the sides at the "=" need trimming.
  return Assignment{trim_plain_back({text.data(), equals}),
                    trim_plain_front({text.data() + equals + 1, text.size() - equals - 1})};
}
// The same for a logical line, quicker when the scan found it plain.
inline std::expected<Assignment, std::string_view> parse_assignment(const LogicalLine& line) noexcept {
  if (!line.plain || line.equals == std::string_view::npos) return parse_assignment(line.text);
  if (line.equals == 0) return std::unexpected(kEmptyKey);
  return split_plain_assignment(line.text, line.equals);
}

struct DirectiveLine {
  std::string_view text;       // the line without its "@", as errors quote it
  std::string_view name;       // up to the first white space, trimmed; may be empty
  std::string_view arguments;  // after that white-space character, as it stands
};
// `line` starts with "@".
DirectiveLine split_directive(std::string_view line) noexcept;

// The errors of a logical line that is no statement at all, numbered with
// the line (a block's opening line) that holds it.
VyrlError assignment_error(std::size_t line, std::string_view text, std::string_view reason);
VyrlError empty_directive_error(std::size_t line, const DirectiveLine& directive);
VyrlError unknown_directive_error(std::size_t line, const DirectiveLine& directive);

}  // namespace vyrl
