#include "types/number_syntax.hpp"

#include <array>
#include <cstddef>

#include "text/ascii.hpp"

namespace vyrl {
namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr bool is_sign(char c) noexcept { return c == '+' || c == '-'; }

constexpr std::size_t skip_digits(std::string_view text, std::size_t pos) noexcept {
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  return pos;
}

constexpr std::array<std::string_view, 3> kNumberWords{"inf", "infinity", "nan"};

}  // namespace

bool is_i32_syntax(std::string_view text) noexcept {
  bool negative = false;
  if (!text.empty() && is_sign(text.front())) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || skip_digits(text, 0) != text.size()) return false;

  // Compare the significant digits as text against the bound, so no arithmetic can overflow.
  const std::size_t first_significant = text.find_first_not_of('0');
  if (first_significant == std::string_view::npos) return true;
  const std::string_view digits = text.substr(first_significant);
  const std::string_view bound = negative ? "2147483648" : "2147483647";
  if (digits.size() != bound.size()) return digits.size() < bound.size();
  return digits <= bound;
}

bool is_integer_syntax(std::string_view text) noexcept {
  if (!text.empty() && is_sign(text.front())) text.remove_prefix(1);
  return !text.empty() && skip_digits(text, 0) == text.size();
}

bool is_number_syntax(std::string_view text) noexcept {
  if (!text.empty() && is_sign(text.front())) text.remove_prefix(1);
  for (const std::string_view word : kNumberWords) {
    if (equals_ignoring_ascii_case(text, word)) return true;
  }

  std::size_t pos = skip_digits(text, 0);
  std::size_t digit_count = pos;
  if (pos < text.size() && text[pos] == '.') {
    const std::size_t fraction_end = skip_digits(text, pos + 1);
    digit_count += fraction_end - (pos + 1);
    pos = fraction_end;
  }
  if (digit_count == 0) return false;

  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && is_sign(text[pos])) ++pos;
    const std::size_t exponent_end = skip_digits(text, pos);
    if (exponent_end == pos) return false;
    pos = exponent_end;
  }
  return pos == text.size();
}

}  // namespace vyrl
