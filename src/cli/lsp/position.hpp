#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vyrl::cli::lsp {

// How a client counts columns: in UTF-8 bytes, or in UTF-16 code units (the
// protocol's default, and what most editors' own buffers use).
enum class Encoding { utf8, utf16 };

struct Position {
  std::size_t line = 0;
  std::size_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

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

// Replaces what lies between two positions with `replacement`, as an
// incremental change from the client asks; start and end may come in either
// order.
void replace_range(std::string& text, Position start, Position end, std::string_view replacement, Encoding encoding);

}  // namespace vyrl::cli::lsp
