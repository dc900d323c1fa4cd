#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vyrl::cli::lsp {

// How a client counts columns: in UTF-8 bytes, or in UTF-16 code units (the
// protocol's default, and what most editors' own buffers use).
enum class Encoding { utf8, utf16 };

struct Position {
  std::size_t line = 0;
  std::size_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

// The free functions below walk `text` from its start to the line asked
// about: right for one position, but a loop over many positions in one text
// goes through a LineIndex of it instead, which answers the same.

// The line of `text` numbered `line` (from 0), without its "\n" or "\r\n";
// empty past the end.
std::string_view line_text(std::string_view text, std::size_t line);

// The byte offset in `text` that `position` names. A line past the end means
// the end of the text, a column past the end of its line the end of that
// line, and a column inside a character (half a surrogate pair) the start of
// that character: a client's stale or careless position never reaches into
// another line or splits a character.
std::size_t offset_of(std::string_view text, Position position, Encoding encoding);

// The column, in the client's units, of byte `byte` of `line` (clamped to it).
std::size_t column_of(std::string_view line, std::size_t byte, Encoding encoding);

// Columns of one line asked for bytes in increasing order, each counted on
// from the last rather than from the line's start: what a walk over many
// pieces of a long line needs. Each answer is column_of's.
class ColumnCounter {
 public:
  ColumnCounter(std::string_view line, Encoding encoding) : line_(line), encoding_(encoding) {}

  // `byte` no smaller than the one asked before.
  std::size_t column(std::size_t byte);

 private:
  std::string_view line_;
  Encoding encoding_;
  std::size_t byte_ = 0;  // may lie past the last byte asked, at the end of a character it fell inside
  std::size_t column_ = 0;
};

// Replaces what lies between two positions with `replacement`, as an
// incremental change from the client asks; start and end may come in either
// order.
void replace_range(std::string& text, Position start, Position end, std::string_view replacement, Encoding encoding);

// Where each line of a text starts, found in one pass over it, so that each
// position asked of the text after that costs a lookup rather than a walk
// from its start. Lines are cut at "\n" alone, as everywhere here. The text
// must outlive the index and stay as it was.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  // As line_text(text, line).
  std::string_view line(std::size_t line) const;
  // As offset_of(text, position, encoding).
  std::size_t offset(Position position, Encoding encoding) const;
  // The position of byte `offset` (clamped to the text): the line it is on,
  // a byte of a line end on the line it ends, and its column in the client's
  // units, a character it falls inside counted whole.
  Position position(std::size_t offset, Encoding encoding) const;

 private:
  std::size_t start(std::size_t line) const { return line < starts_.size() ? starts_[line] : text_.size(); }

  std::string_view text_;
  std::vector<std::size_t> starts_;  // of every line, the first at 0
};

}  // namespace vyrl::cli::lsp
