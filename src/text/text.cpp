#include "text/text.hpp"

#include <cstdint>

namespace vyrl {
namespace {

constexpr bool is_white_space_code_point(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

unsigned char byte(std::string_view text, std::size_t i) noexcept {
  return static_cast<unsigned char>(text[i]);
}

}  // namespace

std::size_t white_space_at_any(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return 0;
  const unsigned char b0 = byte(text, pos);
  if (b0 < 0x80) return is_white_space_code_point(b0) ? 1 : 0;
  // Every non-ASCII White_Space character is two bytes (U+0085, U+00A0) or three
  // bytes (U+1680 and up); a cheap lead-byte filter skips ordinary text quickly.
  if (b0 == 0xC2 && pos + 1 < text.size()) {
    const unsigned char b1 = byte(text, pos + 1);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  }
  if ((b0 == 0xE1 || b0 == 0xE2 || b0 == 0xE3) && pos + 2 < text.size()) {
    const char32_t c = (char32_t(b0 & 0x0F) << 12) | (char32_t(byte(text, pos + 1) & 0x3F) << 6) |
                       char32_t(byte(text, pos + 2) & 0x3F);
    return is_white_space_code_point(c) ? 3 : 0;
  }
  return 0;
}

std::size_t white_space_before(std::string_view text, std::size_t end) noexcept {
  if (end == 0 || end > text.size()) return 0;
  if (byte(text, end - 1) < 0x80) return white_space_at(text, end - 1);
  if (end >= 2 && white_space_at(text, end - 2) == 2) return 2;
  if (end >= 3 && white_space_at(text, end - 3) == 3) return 3;
  return 0;
}

std::string_view trim_white_space(std::string_view text) noexcept {
  // Settle ASCII bytes here, without a call: the loader trims every line and
  // every key and value, and nearly all of them start and end in ASCII.
  std::size_t begin = 0;
  while (begin < text.size()) {
    const unsigned char b = byte(text, begin);
    const std::size_t n = b < 0x80 ? std::size_t{is_white_space_code_point(b)} : white_space_at(text, begin);
    if (n == 0) break;
    begin += n;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const unsigned char b = byte(text, end - 1);
    const std::size_t n = b < 0x80 ? std::size_t{is_white_space_code_point(b)} : white_space_before(text, end);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

WhiteSpaceSplit split_at_white_space(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::size_t n = white_space_at(text, i)) {
      return {text.substr(0, i), text.substr(i + n), true};
    }
  }
  return {text, std::string_view{}, false};
}

std::size_t first_invalid_utf8(std::string_view text) noexcept {
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Fast path: eight ASCII bytes at a time.
    while (i + 8 <= size) {
      std::uint64_t chunk;
      __builtin_memcpy(&chunk, text.data() + i, 8);
      if (chunk & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= size) break;
    const unsigned char b0 = byte(text, i);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    if (decode_utf8(text, i) == kNotUtf8) return start;
  }
  return std::string_view::npos;
}

}  // namespace vyrl
