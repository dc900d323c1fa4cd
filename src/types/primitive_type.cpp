#include "vyrl/error.hpp"
#include "types/primitive_type.hpp"

#include <array>
#include <string>

#include "text/ascii.hpp"
#include "types/number_syntax.hpp"

namespace vyrl {
namespace {

// Indexed by Member.
constexpr std::array<std::string_view, 5> kNames{"i32", "f64", "string", "bool", "color"};

std::string expected_i32(std::string_view value) { return "Expected i32, got '" + excerpt(value) + "'"; }

[[gnu::cold, gnu::noinline]] Status fail_i32(std::string_view value) {
  VyrlError refused = VyrlError::invalid_value(expected_i32(value));
  // The message is the same for "fast" and for a number too large; only the
  // second is fixed by changing the number.
  if (is_integer_syntax(value)) refused.set_slip(VyrlError::Slip::i32_out_of_range);
  return fail(std::move(refused));
}

std::string expected_f64(std::string_view value) { return "Expected f64, got '" + excerpt(value) + "'"; }

std::string expected_bool(std::string_view value) {
  return "Expected bool (true/false/1/0), got '" + excerpt(value) + "'";
}

std::string expected_color_shape(std::string_view value) {
  return "Expected color in #RRGGBB or #RRGGBBAA format, got '" + excerpt(value) + "'";
}

std::string invalid_hex_color(std::string_view value) { return "Invalid hex color '" + excerpt(value) + "'"; }

bool is_bool_text(std::string_view value) noexcept {
  return value == "1" || value == "0" || equals_ignoring_ascii_case(value, "true") ||
         equals_ignoring_ascii_case(value, "false");
}

bool is_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

Status validate_color(std::string_view value) {
  // Lengths are in bytes: "#RRGGBB" is 7, "#RRGGBBAA" is 9.
  if (value.empty() || value.front() != '#' || (value.size() != 7 && value.size() != 9)) {
    return fail(VyrlError::invalid_value(expected_color_shape(value)));
  }
  for (const char c : value.substr(1)) {
    if (!is_hex_digit(c)) return fail(VyrlError::invalid_value(invalid_hex_color(value)));
  }
  return {};
}

}  // namespace

Result<PrimitiveType> PrimitiveType::from_name(std::string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return PrimitiveType(static_cast<Member>(i));
  }
  return fail(VyrlError::not_found(std::string(name)));
}

std::string_view PrimitiveType::name() const noexcept { return kNames[static_cast<std::size_t>(member_)]; }

Status PrimitiveType::validate(std::string_view value, const TypeScope& /*scope*/) const {
  switch (member_) {
    case Member::I32:
      if (!is_i32_syntax(value)) return fail_i32(value);
      return {};
    case Member::F64:
      if (!is_number_syntax(value)) return fail(VyrlError::invalid_value(expected_f64(value)));
      return {};
    case Member::String:
      return {};
    case Member::Bool:
      if (!is_bool_text(value)) return fail(VyrlError::invalid_value(expected_bool(value)));
      return {};
    case Member::Color:
      return validate_color(value);
  }
  return {};
}

}  // namespace vyrl
