#include "statement/statement.hpp"

#include <cstdint>
#include <cstring>
#include <string>

#include "literal/literal.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

// Written as a branch-free reduction without early exit so that the compiler
// can vectorise it.
bool has_bracket(std::string_view text) noexcept {
  unsigned char found = 0;
  for (const char c : text) found |= (c == '[') | (c == ']') | (c == '{') | (c == '}');
  return found != 0;
}

// The first "=" at bracket depth 0. A key without brackets, the usual case,
// makes that simply the first "=".
std::size_t assignment_separator(std::string_view line) noexcept {
  if (line.empty()) return std::string_view::npos;
  const void* hit = std::memchr(line.data(), '=', line.size());
  if (hit == nullptr) return std::string_view::npos;
  const std::size_t first = static_cast<std::size_t>(static_cast<const char*>(hit) - line.data());
  if (!has_bracket(line.substr(0, first))) return first;
  std::int64_t depth = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '=' && depth == 0) return i;
    depth += depth_step(c);
  }
  return std::string_view::npos;
}

}  // namespace

std::expected<Assignment, std::string_view> parse_assignment(std::string_view line) noexcept {
  const std::size_t separator = assignment_separator(line);
  if (separator == std::string_view::npos) return std::unexpected(kMissingAssignment);
  const std::string_view key = trim(line.substr(0, separator));
  if (key.empty()) return std::unexpected(kEmptyKey);
  std::string_view value = trim(line.substr(separator + 1));
  if (value.empty() || (value.front() != '[' && value.front() != '{')) value = unwrap_quotes(value);
  return Assignment{key, value};
}

DirectiveLine split_directive(std::string_view line) noexcept {
  const std::string_view rest = line.substr(1);
  const WhiteSpaceSplit split = split_at_white_space(rest);
  return DirectiveLine{rest, trim(split.before), split.after};
}

VyrlError assignment_error(std::size_t line, std::string_view text, std::string_view reason) {
  return VyrlError::parse(line, text, std::string(reason));
}

VyrlError empty_directive_error(std::size_t line, const DirectiveLine& directive) {
  return VyrlError::parse(line, directive.text, "Empty directive");
}

VyrlError unknown_directive_error(std::size_t line, const DirectiveLine& directive) {
  return VyrlError::parse(line, directive.text, "Unknown directive: @" + excerpt(directive.name));
}

}  // namespace vyrl
