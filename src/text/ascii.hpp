#pragma once

#include <cstddef>
#include <string_view>

namespace vyrl {

// The only letter case the language folds: the fixed words of the scalar types
// and the physical unit names are ASCII, and no character outside ASCII
// lower-cases onto their letters (U+212A KELVIN SIGN is handled where units are).
constexpr char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// True when `text` equals the lower-case `word` after folding ASCII capitals.
constexpr bool equals_ignoring_ascii_case(std::string_view text, std::string_view word) noexcept {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_lower(text[i]) != word[i]) return false;
  }
  return true;
}

}  // namespace vyrl
