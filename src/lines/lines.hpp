#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "lines/scan.hpp"
#include "text/text.hpp"

namespace vyrl {

// --- Line helpers: borrowed slices in, borrowed slices out, no allocation. ---

// The line cut before its comment; a "#" starts one only outside quotes with
// ASCII whitespace (or the line edge) on both sides, so "#FF8800" survives.
std::string_view strip_comment(std::string_view line) noexcept;

// True when a directive line leaves a "{" open and continues on the next lines.
bool needs_accumulation(std::string_view line) noexcept;

// True once an accumulated block has at least as many "}" as "{".
bool block_is_complete(std::string_view block) noexcept;

// Curly-brace totals of a growing block; lines are added once each instead of
// recounting the whole block, which would make long blocks quadratic.
struct BraceCount {
  std::size_t open = 0;
  std::size_t close = 0;
  void add(std::string_view text) noexcept;
  bool closed() const noexcept { return close >= open; }
};

// Whether a line the scan set aside reads as a plain line all the same: its
// only careful bytes are brackets and braces after its first "=", and "#"
// marks that start no comment (a colour, a list, an inline object), and it is
// no directive. Comment stripping, Unicode trimming and quote handling would
// leave such a line as it is, and its first "=" is its separator.
bool reads_as_plain(std::string_view content, std::size_t equals) noexcept;

// Whether a line of a block reads the same in place as joined: only printable
// ASCII and tabs, and no comment mark or quote.
bool is_quiet_block_line(std::string_view content) noexcept;

// Cuts the first physical line off `rest`, which keeps what follows. Callers
// stop once `rest` is empty: a text ending in "\n" has no empty line after it.
PhysicalLine cut_physical_line(std::string_view& rest) noexcept;

// One line as the statement stage sees it: comment cut, trimmed, and for a
// directive block the whole block joined with single spaces.
struct LogicalLine {
  // Valid until the next call to next(). A block read in place (see
  // LogicalLines::next) is its own bytes instead, from its "@" to its last
  // "}": line ends and indentation stand where the joined text has a space.
  std::string_view text;
  std::size_t number;     // 1-based physical line; a block's opening line
  // Where its physical lines stand in the text, line ends included, so that a
  // reader keeping every byte can find the blank and comment lines between
  // two logical lines without cutting the text a second way.
  std::size_t begin;
  std::size_t end;
  std::size_t last_number;  // the physical line that ended it
  // A one-line statement whose bytes need no careful reading (see the
  // structural scan): its key and value are cut at `equals`, the offset of
  // its first "=" in `text` (npos when there is none), and trimmed of spaces
  // and tabs alone.
  bool plain = false;
  std::size_t equals = std::string_view::npos;
};

// A plain one-line statement (see LogicalLine::plain) as the scan leaves it.
struct PlainLine {
  std::string_view text;  // trimmed
  std::size_t equals;     // the first "=" in `text`, or npos
};

// Where the scan's first "=" of a plain line stands once the line is trimmed
// to `stripped`; trimming took only spaces and tabs, never the "=".
inline std::size_t equals_in(const ScannedLine& scanned, std::string_view stripped) noexcept {
  if (scanned.equals == std::string_view::npos) return std::string_view::npos;
  return scanned.equals - static_cast<std::size_t>(stripped.data() - scanned.line.content.data());
}

// Told of every physical line as it is cut: where it starts, and how many of
// its bytes come before its comment. A reader that keeps every byte learns
// the lines from the cutter loading uses instead of cutting them again.
class PhysicalLineSink {
 public:
  virtual void physical_line(std::size_t offset, const PhysicalLine& line, std::size_t code) = 0;

 protected:
  ~PhysicalLineSink() = default;
};

// Cuts a text into logical lines. Lines end at "\n" (a "\r" before it goes
// too); every physical line counts, blank or not; a directive line that
// leaves "{" open takes the following lines until its braces balance, and a
// block still open at the end is handed over as it stands.
class LogicalLines {
 public:
  explicit LogicalLines(std::string_view text, PhysicalLineSink* sink = nullptr) noexcept
      : scanner_(text), sink_(sink) {}

  // The next non-empty logical line, or null at the end of the text. It
  // stays valid until the next call; lines are handed over in place, not
  // copied, since the loader takes one per line of the text.
  const LogicalLine* next() {
    return next([](const PlainLine&) { return false; });
  }

  // The same, but each plain line is first offered to `take(const PlainLine&)`,
  // and one it takes (returns true for) is not made into a logical line at
  // all: most lines of a file are plain, and a loader that stores them
  // straight from here saves building and reading one per line. A reader
  // told of every physical line is offered none.
  // The physical line cut last: the line a plain line offered to `take` is on.
  std::size_t line_number() const noexcept { return number_; }

  template <class Take>
  const LogicalLine* next(Take&& take) {
    return next(std::forward<Take>(take), [](std::string_view) { return false; });
  }

  // The same, and a directive block whose opening line `in_place(line)`
  // accepts is handed over in place, not joined, when that reads the same:
  // when no line of it holds a comment mark, a quote, a control byte other
  // than a tab, or a byte outside ASCII, its line ends and indentation
  // separate exactly as the spaces of the joined text would for a reader
  // that splits at white space. Joining was the larger part of reading a
  // long schema block.
  template <class Take, class InPlace>
  const LogicalLine* next(Take&& take, InPlace&& in_place) {
    if (sink_ != nullptr) return next_after(nullptr);
    while (!scanner_.done()) {
      const ScannedLine scanned = scanner_.next();
      ++number_;
      if (!scanned.plain && !reads_as_plain(scanned.line.content, scanned.equals)) {
        const std::string_view opening = trim_plain(scanned.line.content);
        if (!opening.starts_with('@') || !is_quiet_block_line(scanned.line.content)) return next_after(&scanned);
        // A quiet line is its own code: whether it opens a block is known here.
        if (!needs_accumulation(opening)) return next_after(&scanned, Opens::no);
        if (in_place(opening)) {
          if (const LogicalLine* block = block_in_place(scanned, opening)) return block;
        }
        return next_after(&scanned, Opens::yes);
      }
      const std::string_view stripped = trim_plain(scanned.line.content);
      if (stripped.empty()) continue;
      const PlainLine plain{stripped, equals_in(scanned, stripped)};
      if (take(plain)) continue;
      line_ = LogicalLine{stripped, number_, scanned.offset, scanner_.position(), number_, true, plain.equals};
      return &line_;
    }
    return nullptr;
  }

 private:
  // The general road, starting with `first` when one was cut already, and
  // whether that line opens a block when the caller knows it.
  enum class Opens { unknown, no, yes };
  const LogicalLine* next_after(const ScannedLine* first, Opens opens = Opens::unknown);
  // The block `opening` starts, in place, or null with nothing read past it
  // when one of its lines is not quiet or the text ends first.
  const LogicalLine* block_in_place(const ScannedLine& first, std::string_view opening);

  LineScanner scanner_;
  PhysicalLineSink* sink_;
  std::size_t number_ = 0;
  LogicalLine line_{};
  std::string block_;  // the directive block being joined
};

}  // namespace vyrl
