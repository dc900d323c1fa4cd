#include "vyrl/syntax.hpp"

#include <algorithm>
#include <functional>

#include "lines/lines.hpp"
#include "literal/literal.hpp"
#include "statement/directive_arguments.hpp"
#include "statement/statement.hpp"
#include "text/text.hpp"

namespace vyrl {

std::span<const SchemaFieldSpans> SyntaxTree::fields(const SyntaxLine& line) const noexcept {
  if (line.kind != SyntaxKind::directive || line.name.text != kSchemaDirective) return {};
  return std::span<const SchemaFieldSpans>(fields_).subspan(line.first_part, line.part_count);
}

std::span<const Span> SyntaxTree::selectors(const SyntaxLine& line) const noexcept {
  if (line.kind != SyntaxKind::directive || line.name.text != kDeriveDirective) return {};
  return std::span<const Span>(selectors_).subspan(line.first_part, line.part_count);
}

const SyntaxLine* SyntaxTree::first_unreadable() const noexcept {
  for (const SyntaxLine& line : statements_) {
    if (line.kind == SyntaxKind::unreadable) return &line;
  }
  return nullptr;
}

std::string SyntaxTree::rebuild() const {
  std::string out;
  out.reserve(text_.size());
  for (const SyntaxLine& statement : statements_) {
    for (const SourceLine& line : lines_of(statement)) {
      out += line.content.text;
      out += line.ending.text;
    }
  }
  return out;
}

// Fills a tree from the logical lines the loader would see, and from the
// physical lines between and inside them.
class SyntaxReader {
 public:
  explicit SyntaxReader(std::string_view text) noexcept { tree_.text_ = text; }

  SyntaxTree read() && {
    const std::string_view text = tree_.text_;
    tree_.lines_.reserve(text.size() / 24 + 1);
    tree_.statements_.reserve(text.size() / 24 + 1);
    LogicalLines logical(text);
    std::size_t done = 0;
    std::uint32_t number = 0;
    while (const auto line = logical.next()) {
      read_gap(done, line->begin, number);
      read_statement(*line, number);
      done = line->end;
    }
    read_gap(done, text.size(), number);
    return std::move(tree_);
  }

 private:
  // Cuts the physical lines of [begin, end) with the loader's own cutter.
  std::uint32_t cut_lines(std::size_t begin, std::size_t end, std::uint32_t& number) {
    const std::string_view text = tree_.text_;
    std::string_view rest = text.substr(begin, end - begin);
    std::uint32_t count = 0;
    while (!rest.empty()) {
      const std::size_t start = end - rest.size();
      const PhysicalLine physical = cut_physical_line(rest);
      ++number;
      ++count;
      SourceLine line;
      line.content = Span{start, number, 0, physical.content};
      line.ending = Span{start + physical.content.size(), number, static_cast<std::uint32_t>(physical.content.size()),
                         physical.ending};
      const std::size_t code = strip_comment(physical.content).size();
      line.comment = Span{start + code, number, static_cast<std::uint32_t>(code), physical.content.substr(code)};
      tree_.lines_.push_back(line);
    }
    return count;
  }

  // Lines that loading skips: each is blank or a comment.
  void read_gap(std::size_t begin, std::size_t end, std::uint32_t& number) {
    const std::size_t first = tree_.lines_.size();
    cut_lines(begin, end, number);
    for (std::size_t i = first; i < tree_.lines_.size(); ++i) {
      SyntaxLine& line = tree_.statements_.emplace_back();
      line.kind = tree_.lines_[i].comment.empty() ? SyntaxKind::blank : SyntaxKind::comment;
      line.first_line = static_cast<std::uint32_t>(i);
      line.line_count = 1;
    }
  }

  void read_statement(const LogicalLine& logical, std::uint32_t& number) {
    SyntaxLine line;
    line.first_line = static_cast<std::uint32_t>(tree_.lines_.size());
    line.line_count = cut_lines(logical.begin, logical.end, number);
    // A block's text is the loader's joined copy, even when it is one line
    // still open at the end of the text.
    const auto inside = [text = tree_.text_](const char* p) {
      return std::less_equal<const char*>()(text.data(), p) && std::less_equal<const char*>()(p, text.data() + text.size());
    };
    block_ = !inside(logical.text.data());
    if (block_) {
      // The loader's buffer is reused for the next block: keep a copy.
      const std::string& kept = tree_.blocks_.emplace_back(logical.text);
      line.logical = kept;
      map_block(line);
    } else {
      line.logical = logical.text;
    }
    if (line.logical.front() == '@') {
      read_directive(line, logical.number);
    } else {
      read_assignment(line, logical.number);
    }
    tree_.statements_.push_back(line);
  }

  void read_assignment(SyntaxLine& line, std::size_t number) {
    const auto assignment = parse_assignment(line.logical);
    if (!assignment) {
      unreadable(line, assignment_error(number, line.logical, assignment.error()));
      return;
    }
    line.kind = SyntaxKind::assignment;
    line.key = span(assignment->key);
    // Only white space lies between the key and the separator.
    const std::size_t equals = line.logical.find('=', static_cast<std::size_t>(assignment->key.end() - line.logical.begin()));
    line.equals = span(line.logical.substr(equals, 1));
    const std::string_view written = trim(line.logical.substr(equals + 1));
    line.value = written.empty() ? empty_after(line.equals) : span(written);
    line.value_read = written.empty() ? line.value : span(assignment->value);
  }

  void read_directive(SyntaxLine& line, std::size_t number) {
    DirectiveLine directive = split_directive(line.logical);
    // A name alone leaves no argument text; give it a place at the line's end.
    if (directive.arguments.data() == nullptr) directive.arguments = line.logical.substr(line.logical.size());
    line.name = span(directive.name);
    const std::string_view arguments = trim(directive.arguments);
    line.arguments = arguments.empty() ? empty_after(line.name) : span(arguments);
    if (directive.name.empty()) {
      unreadable(line, empty_directive_error(number, directive));
      return;
    }
    line.kind = SyntaxKind::directive;
    if (directive.name == kTypeDirective) {
      auto parsed = parse_type_arguments(directive.arguments);
      if (!parsed) return unreadable(line, std::move(parsed.error()));
      line.subject = span(parsed->name);
      line.definition = span(parsed->definition);
    } else if (directive.name == kSchemaDirective) {
      auto parsed = parse_schema_arguments(directive.arguments);
      if (!parsed) return unreadable(line, std::move(parsed.error()));
      line.subject = span(parsed->name);
      line.open_brace = span(parsed->open);
      line.close_brace = span(parsed->close);
      line.first_part = static_cast<std::uint32_t>(tree_.fields_.size());
      line.part_count = static_cast<std::uint32_t>(parsed->fields.size());
      for (const SchemaFieldSyntax& field : parsed->fields) {
        tree_.fields_.push_back({span(field.name), span(field.mark), span(field.type)});
      }
    } else if (directive.name == kImportDirective) {
      auto parsed = parse_import_arguments(directive.arguments);
      if (!parsed) return unreadable(line, std::move(parsed.error()));
      line.subject = span(*parsed);
    } else if (directive.name == kDeriveDirective) {
      const DeriveTarget target = split_derive_arguments(directive.arguments);
      line.subject = span(target.path);
      line.first_part = static_cast<std::uint32_t>(tree_.selectors_.size());
      line.part_count = static_cast<std::uint32_t>(target.schemas.size());
      for (const std::string_view schema : target.schemas) tree_.selectors_.push_back(span(schema));
    } else {
      unreadable(line, unknown_directive_error(number, directive));
    }
  }

  void unreadable(SyntaxLine& line, VyrlError error) {
    line.kind = SyntaxKind::unreadable;
    line.error = static_cast<std::int32_t>(tree_.errors_.size());
    tree_.errors_.push_back(std::move(error));
  }

  // --- Placing views of the logical text in the text read. ---

  // A block's logical text is its lines' comment-free, trimmed pieces joined
  // with single spaces; where each piece sits in both texts is all it takes
  // to place a view of it.
  struct Piece {
    std::size_t joined;  // where the piece starts in the joined text
    std::size_t source;  // and in the text read
    std::size_t size;
    std::uint32_t number;
    std::size_t line_start;  // offset of its physical line in the text read
  };

  void map_block(const SyntaxLine& line) {
    pieces_.clear();
    std::size_t joined = 0;
    for (std::uint32_t i = 0; i < line.line_count; ++i) {
      const SourceLine& source = tree_.lines_[line.first_line + i];
      const std::string_view piece = trim(strip_comment(source.content.text));
      const std::size_t at = source.content.offset + static_cast<std::size_t>(piece.data() - source.content.text.data());
      pieces_.push_back({joined, piece.empty() ? source.content.offset : at, piece.size(), source.content.line,
                         source.content.offset});
      joined += piece.size() + 1;
    }
    // The logical text is the joined text, trimmed and cut once more.
    block_start_ = static_cast<std::size_t>(line.logical.data() - tree_.blocks_.back().data());
    block_text_ = line.logical;
  }

  // Where a position of the joined text lands in the text read: a position on
  // a joining space belongs to the next piece when it starts a span and to
  // the previous one when it ends it.
  std::size_t place(std::size_t joined, bool is_end, std::size_t& piece) const {
    std::size_t i = 0;
    while (i + 1 < pieces_.size() && pieces_[i + 1].joined <= joined) ++i;
    std::size_t within = joined - pieces_[i].joined;
    if (within > pieces_[i].size) {  // a joining space
      if (is_end || i + 1 == pieces_.size()) {
        within = pieces_[i].size;
      } else {
        ++i;
        within = 0;
      }
    } else if (!is_end && within == pieces_[i].size && i + 1 < pieces_.size() && pieces_[i].size > 0) {
      ++i;
      within = 0;
    }
    piece = i;
    return pieces_[i].source + within;
  }

  Span span(std::string_view view) const {
    const std::string_view text = tree_.text_;
    if (!block_) {
      const std::size_t offset = static_cast<std::size_t>(view.data() - text.data());
      return at(offset, view.size());
    }
    const std::size_t begin = block_start_ + static_cast<std::size_t>(view.data() - block_text_.data());
    std::size_t first = 0;
    std::size_t last = 0;
    const std::size_t source_begin = place(begin, view.empty(), first);
    const std::size_t source_end = view.empty() ? source_begin : place(begin + view.size(), true, last);
    const Piece& piece = pieces_[first];
    return Span{source_begin, piece.number, static_cast<std::uint32_t>(source_begin - piece.line_start),
                text.substr(source_begin, source_end - source_begin)};
  }

  // A span of a single physical line, found from its offset.
  Span at(std::size_t offset, std::size_t size) const {
    const SourceLine& line = tree_.lines_.back();
    return Span{offset, line.content.line, static_cast<std::uint32_t>(offset - line.content.offset),
                tree_.text_.substr(offset, size)};
  }

  static Span empty_after(const Span& span) {
    return Span{span.end(), span.line, static_cast<std::uint32_t>(span.column + span.text.size()),
                span.text.substr(span.text.size())};
  }

  SyntaxTree tree_;
  bool block_ = false;
  std::vector<Piece> pieces_;
  std::size_t block_start_ = 0;
  std::string_view block_text_;
};

SyntaxTree read_syntax(std::string_view text) { return SyntaxReader(text).read(); }

}  // namespace vyrl
