#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"

namespace vyrl {

// A text read for its layout rather than its meaning: every byte is kept and
// placed, valid lines and broken ones alike, so that tools can rewrite a
// file without losing what they do not touch. Lines are cut, and statements
// split, by the very functions loading uses; nothing here reads another file
// or resolves a type.

// Bytes of the text read, with where they start.
struct Span {
  std::size_t offset = 0;    // from the start of the text
  std::uint32_t line = 0;    // 1-based physical line of the first byte
  std::uint32_t column = 0;  // 0-based byte column of the first byte
  std::string_view text;     // borrowed from the text read
  bool empty() const noexcept { return text.empty(); }
  std::size_t end() const noexcept { return offset + text.size(); }
};

// A physical line and the pieces any of them has.
struct SourceLine {
  Span content;  // without its line end
  Span ending;   // "\n", "\r\n", or empty for a last line without one
  Span comment;  // from its "#" to the end of the content; empty without one
};

enum class SyntaxKind {
  blank,       // nothing but white space
  comment,     // a comment and white space
  assignment,  // key = value
  directive,   // @name arguments, on one line or a block over several
  unreadable,  // what loading would refuse; see SyntaxTree::error
};

// One logical line: a statement, or a blank or comment line. What it holds
// is kept small; its pieces are found on demand (SyntaxTree::assignment and
// SyntaxTree::directive), so that reading a large text costs little more
// than loading it.
struct SyntaxLine {
  SyntaxKind kind = SyntaxKind::blank;
  std::uint32_t first_line = 0;  // index into the tree's physical lines
  std::uint32_t line_count = 0;  // physical lines it covers
  std::int32_t error = -1;       // for unreadable lines; see SyntaxTree::error
  // The text loading hands on for this line: comment cut, trimmed, a block's
  // lines joined with single spaces. Empty for blank and comment lines.
  std::string_view logical;
};

struct AssignmentSpans {
  Span key;
  Span equals;
  Span value;       // as written, quotes included
  Span value_read;  // as read: one pair of enclosing quotes removed
};

struct SchemaFieldSpans {
  Span name;  // without its "*" marks
  Span mark;  // the "*" marks, empty for a required field
  Span type;
};

// What a directive line does, told by its name (without the "@"). The name is
// read once, here; everything after works on the kind, so that loading, the
// syntax layer and the tools cannot come to disagree about a name.
enum class DirectiveKind : std::uint8_t { unknown, import, type, schema, derive };

// Every known kind, in the order directives are offered and suggested.
inline constexpr DirectiveKind kDirectiveKinds[] = {DirectiveKind::import, DirectiveKind::type, DirectiveKind::schema,
                                                    DirectiveKind::derive};

// The name of `kind` without its "@"; empty for unknown.
constexpr std::string_view directive_name(DirectiveKind kind) noexcept {
  switch (kind) {
    case DirectiveKind::import: return "import";
    case DirectiveKind::type: return "type";
    case DirectiveKind::schema: return "schema";
    case DirectiveKind::derive: return "derive";
    case DirectiveKind::unknown: break;
  }
  return {};
}

// The kind `name` names; unknown for any other word, the empty one included.
// Names are matched exactly: case and a trailing "{" make another word.
constexpr DirectiveKind directive_kind(std::string_view name) noexcept {
  for (const DirectiveKind kind : kDirectiveKinds) {
    if (directive_name(kind) == name) return kind;
  }
  return DirectiveKind::unknown;
}

// Spans that a directive does not have stay empty. In a block, a span may run
// over several physical lines, their line ends and comments included.
struct DirectiveSpans {
  DirectiveKind kind = DirectiveKind::unknown;  // what `name` names
  Span name;         // without its "@"
  Span arguments;    // as written, trimmed
  Span subject;      // @type's name, @schema's name, @import's and @derive's path
  Span definition;   // @type's definition
  Span open_brace;   // @schema's first "{"
  Span close_brace;  // @schema's last "}"
  std::vector<SchemaFieldSpans> fields;  // @schema's, in the order written
  std::vector<Span> selectors;           // @derive's schema names
};

class SyntaxTree {
 public:
  std::string_view text() const noexcept { return text_; }
  std::span<const SyntaxLine> statements() const noexcept { return statements_; }

  std::size_t line_count() const noexcept { return lines_.size(); }
  // The physical line at `index` (its number is index + 1).
  SourceLine line(std::size_t index) const noexcept;
  // The first physical line of `statement`, where its number and any
  // trailing comment of a one-line statement are found.
  SourceLine first_line(const SyntaxLine& statement) const noexcept { return line(statement.first_line); }

  // The pieces of an assignment; all empty for any other kind.
  AssignmentSpans assignment(const SyntaxLine& statement) const;
  // The pieces of a directive, or of an unreadable directive line as far as
  // its name and arguments; all empty for any other kind.
  DirectiveSpans directive(const SyntaxLine& statement) const;

  // The error loading would give for this line (without its location frame),
  // or null.
  const VyrlError* error(const SyntaxLine& statement) const noexcept {
    return statement.error < 0 ? nullptr : &errors_[static_cast<std::size_t>(statement.error)];
  }
  // The first unreadable line, or null.
  const SyntaxLine* first_unreadable() const noexcept;

 private:
  friend class SyntaxReader;
  friend class SpanPlacer;
  struct Physical {
    std::size_t offset;
    std::size_t content;  // bytes before the line end
    std::size_t code;     // bytes before the comment
    std::uint8_t ending;  // 0, 1 or 2
  };

  std::string_view text_;
  std::vector<SyntaxLine> statements_;
  std::vector<Physical> lines_;
  std::vector<VyrlError> errors_;
  std::deque<std::string> blocks_;  // the joined text of each block, where `logical` points
};

// Reads any text, valid or not. The tree borrows `text`, which must outlive it.
SyntaxTree read_syntax(std::string_view text);

}  // namespace vyrl
