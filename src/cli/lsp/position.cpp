#include "lsp/position.hpp"

#include <algorithm>

#include "vyrl/text.hpp"

namespace vyrl::cli::lsp {
namespace {

// The bytes of the character at `at`, as far as its first byte claims and
// the line goes; a stray continuation byte or a byte that never starts a
// character counts as a character of its own, so that counting never runs
// away on malformed text. Only the first byte is read: this is the walk
// behind every position the server sends or reads.
std::size_t character_bytes(std::string_view line, std::size_t at) {
  return std::min(std::max<std::size_t>(utf8_lead_length(line[at]), 1), line.size() - at);
}

std::size_t units(std::size_t bytes, Encoding encoding) {
  return encoding == Encoding::utf8 ? bytes : utf16_units(bytes);
}

std::size_t line_start(std::string_view text, std::size_t line) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < line; ++i) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) return text.size();
    start = newline + 1;
  }
  return start;
}

std::string_view line_at(std::string_view text, std::size_t start) {
  std::size_t end = text.find('\n', start);
  if (end == std::string_view::npos) end = text.size();
  if (end > start && text[end - 1] == '\r') --end;
  return text.substr(start, end - start);
}

// The byte of `line` that a client's column names: the end of the line past
// it, the start of a character whose units it falls inside.
std::size_t byte_at_column(std::string_view line, std::size_t character, Encoding encoding) {
  std::size_t byte = 0;
  std::size_t column = 0;
  while (byte < line.size()) {
    const std::size_t bytes = character_bytes(line, byte);
    const std::size_t width = units(bytes, encoding);
    if (column + width > character) break;
    column += width;
    byte += bytes;
  }
  return byte;
}

}  // namespace

std::string_view line_text(std::string_view text, std::size_t line) { return line_at(text, line_start(text, line)); }

std::size_t offset_of(std::string_view text, Position position, Encoding encoding) {
  const std::size_t start = line_start(text, position.line);
  return start + byte_at_column(line_at(text, start), position.character, encoding);
}

std::size_t column_of(std::string_view line, std::size_t byte, Encoding encoding) {
  byte = std::min(byte, line.size());
  std::size_t column = 0;
  for (std::size_t i = 0; i < byte;) {
    const std::size_t bytes = character_bytes(line, i);
    column += units(bytes, encoding);
    i += bytes;
  }
  return column;
}

std::size_t ColumnCounter::column(std::size_t byte) {
  byte = std::min(byte, line_.size());
  while (byte_ < byte) {
    const std::size_t bytes = character_bytes(line_, byte_);
    column_ += units(bytes, encoding_);
    byte_ += bytes;
  }
  return column_;
}

void replace_range(std::string& text, Position start, Position end, std::string_view replacement, Encoding encoding) {
  std::size_t from = offset_of(text, start, encoding);
  std::size_t to = offset_of(text, end, encoding);
  if (to < from) std::swap(from, to);
  text.replace(from, to - from, replacement);
}

LineIndex::LineIndex(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
    starts_.push_back(at + 1);
  }
}

std::string_view LineIndex::line(std::size_t line) const { return line_at(text_, start(line)); }

std::size_t LineIndex::offset(Position position, Encoding encoding) const {
  const std::size_t from = start(position.line);
  return from + byte_at_column(line_at(text_, from), position.character, encoding);
}

Position LineIndex::position(std::size_t offset, Encoding encoding) const {
  offset = std::min(offset, text_.size());
  // The last line starting at or before the byte.
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<std::size_t>(after - starts_.begin()) - 1;
  const std::size_t from = starts_[line];
  // Counted over the rest of the text rather than the line, so that a byte
  // on a line's "\r" or inside a character counts as the walk always has.
  return Position{line, column_of(text_.substr(from), offset - from, encoding)};
}

}  // namespace vyrl::cli::lsp
