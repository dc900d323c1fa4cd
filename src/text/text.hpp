#pragma once

#include <cstddef>
#include <string_view>

#include "vyrl/text.hpp"

namespace vyrl {

// Trimming everywhere in the language means the Unicode White_Space property
// (25 code points), not the C locale's idea of a space.

std::size_t white_space_at_any(std::string_view text, std::size_t pos) noexcept;

// Length in bytes of the White_Space character starting at `pos`, or 0.
// Printable ASCII and the space, nearly every byte asked about, are settled
// here without a call: tokenisers ask once per byte.
inline std::size_t white_space_at(std::string_view text, std::size_t pos) noexcept {
  if (pos < text.size()) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c > 0x20 && c < 0x80) return 0;
    if (c == 0x20) return 1;
  }
  return white_space_at_any(text, pos);
}

// Length in bytes of the White_Space character ending just before `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) noexcept;

std::string_view trim_white_space(std::string_view text) noexcept;

// Trimming for a text whose only White_Space can be spaces and tabs, as the
// line scan finds of a plain line.
inline std::string_view trim_blanks(std::string_view text) noexcept {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  return {begin, static_cast<std::size_t>(end - begin)};
}

// Trimming for the text of a plain line, which the line scan found free of
// control bytes but tab: every byte up to a space is a blank there, so one
// comparison settles each byte.
inline bool is_plain_blank(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }
inline std::string_view trim_plain_front(std::string_view text) noexcept {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && is_plain_blank(*begin)) ++begin;
  return {begin, static_cast<std::size_t>(end - begin)};
}
inline std::string_view trim_plain_back(std::string_view text) noexcept {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (end > begin && is_plain_blank(end[-1])) --end;
  return {begin, static_cast<std::size_t>(end - begin)};
}
inline std::string_view trim_plain(std::string_view text) noexcept { return trim_plain_back(trim_plain_front(text)); }

// Most texts trimmed (lines, keys, values, items) start and end with a
// printable ASCII byte; those are settled here without a call.
inline std::string_view trim(std::string_view text) noexcept {
  text = trim_blanks(text);
  const auto settled = [](char c) { return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x80; };
  if (text.empty() || (settled(text.front()) && settled(text.back()))) return text;
  return trim_white_space(text);
}

struct WhiteSpaceSplit {
  std::string_view before;  // text before the first White_Space character
  std::string_view after;   // text after it (may start with more white space)
  bool found;
};
WhiteSpaceSplit split_at_white_space(std::string_view text) noexcept;

// Where the first byte of `text` that does not begin a well-formed UTF-8
// character is (overlongs, surrogates and values past U+10FFFF included), or
// npos when there is none.
std::size_t first_invalid_utf8(std::string_view text) noexcept;

inline bool is_valid_utf8(std::string_view text) noexcept { return first_invalid_utf8(text) == std::string_view::npos; }

}  // namespace vyrl
