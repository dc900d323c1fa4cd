#pragma once

#include <cstddef>
#include <string_view>

namespace vyrl {

// UTF-8, read a character at a time. The library, the tool and its language
// server all count characters through these, so that they agree on where a
// character ends and on what a malformed byte is worth.

// What decode_utf8 gives for a byte that starts no well-formed character: one
// past the last code point, so that it equals no character.
inline constexpr char32_t kNotUtf8 = 0x110000;

// A byte that can only continue a character.
constexpr bool is_utf8_continuation(char byte) noexcept { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The bytes a character starting with `lead` claims: 1 for ASCII, 2 to 4 for
// a byte that may start a longer character, 0 for a continuation byte and for
// bytes that never occur in UTF-8 (0xC0, 0xC1, 0xF5 and above). A claim is
// not a promise: the bytes that follow may not keep it.
constexpr std::size_t utf8_lead_length(char lead) noexcept {
  const auto byte = static_cast<unsigned char>(lead);
  if (byte < 0x80) return 1;
  if (byte < 0xC2) return 0;
  if (byte < 0xE0) return 2;
  if (byte < 0xF0) return 3;
  return byte < 0xF5 ? 4 : 0;
}

// The character at `offset` (which must be inside `text`), moving `offset`
// past it. A byte that starts no well-formed character (a stray continuation
// byte, a cut sequence, an overlong form, a surrogate, a value past U+10FFFF)
// gives kNotUtf8 and moves `offset` one byte on: a walk never stalls, and
// never swallows the well-formed character after a bad byte.
constexpr char32_t decode_utf8(std::string_view text, std::size_t& offset) noexcept {
  const auto lead = static_cast<unsigned char>(text[offset]);
  const std::size_t length = utf8_lead_length(text[offset]);
  if (length == 1) {
    ++offset;
    return lead;
  }
  if (length == 0 || text.size() - offset < length) {
    ++offset;
    return kNotUtf8;
  }
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const char byte = text[offset + i];
    if (!is_utf8_continuation(byte)) {
      ++offset;
      return kNotUtf8;
    }
    code = (code << 6) | (static_cast<unsigned char>(byte) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF decode to numbers
  // that no well-formed sequence of their length gives.
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    ++offset;
    return kNotUtf8;
  }
  offset += length;
  return code;
}

// UTF-16 code units of a character that takes `utf8_bytes` bytes in UTF-8:
// the four-byte ones, and only they, lie past the Basic Multilingual Plane
// and take a surrogate pair.
constexpr std::size_t utf16_units(std::size_t utf8_bytes) noexcept { return utf8_bytes == 4 ? 2 : 1; }

}  // namespace vyrl
