#include "vyrl/error.hpp"
#include "types/math.hpp"

#include <string>

#include "types/number_syntax.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

std::string invalid_number(std::string_view piece) { return "Invalid number: " + excerpt(piece); }

std::string wrong_component_count(std::size_t expected, std::size_t actual) {
  return "Expected " + std::to_string(expected) + " components, got " + std::to_string(actual);
}

}  // namespace

std::size_t MathTypes::components() const noexcept {
  return kMathMembers[static_cast<std::size_t>(member_)].components;
}

Status MathTypes::validate(std::string_view value, const TypeScope& /*scope*/) const {
  // Every piece is checked before the count, so a bad number wins over a bad
  // count. Empty pieces count as pieces and fail as numbers.
  std::size_t count = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = value.find(',', start);
    const std::string_view piece = trim(value.substr(start, comma - start));  // npos - start clamps
    if (!is_number_syntax(piece)) return fail(VyrlError::invalid_value(invalid_number(piece)));
    ++count;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count != components()) return fail(VyrlError::invalid_value(wrong_component_count(components(), count)));
  return {};
}

}  // namespace vyrl
