#include "vyrl/syntax.hpp"

#include <algorithm>
#include <functional>
#include <optional>

#include "lines/lines.hpp"
#include "statement/directive_arguments.hpp"
#include "statement/statement.hpp"
#include "text/text.hpp"

namespace vyrl {

SourceLine SyntaxTree::line(std::size_t index) const noexcept {
  const Physical& physical = lines_[index];
  const auto number = static_cast<std::uint32_t>(index + 1);
  const std::string_view content = text_.substr(physical.offset, physical.content);
  SourceLine line;
  line.content = Span{physical.offset, number, 0, content};
  line.ending = Span{physical.offset + physical.content, number, static_cast<std::uint32_t>(physical.content),
                     text_.substr(physical.offset + physical.content, physical.ending)};
  line.comment = Span{physical.offset + physical.code, number, static_cast<std::uint32_t>(physical.code),
                      content.substr(physical.code)};
  return line;
}

const SyntaxLine* SyntaxTree::first_unreadable() const noexcept {
  for (const SyntaxLine& line : statements_) {
    if (line.kind == SyntaxKind::unreadable) return &line;
  }
  return nullptr;
}

// Places views of a statement's logical text in the text read. A one-line
// statement's logical text is a view of the text itself. A block's is its
// lines' comment-free, trimmed pieces joined with single spaces, starting
// with the "@" of its first piece; where each piece sits in both texts is
// all it takes to place a view of it.
class SpanPlacer {
 public:
  SpanPlacer(const SyntaxTree& tree, const SyntaxLine& statement) : tree_(tree), statement_(statement) {
    const std::string_view text = tree.text_;
    const char* begin = statement.logical.data();
    block_ = !(std::less_equal<const char*>()(text.data(), begin) &&
               std::less_equal<const char*>()(begin, text.data() + text.size()));
    if (!block_) return;
    std::size_t joined = 0;
    for (std::uint32_t i = 0; i < statement.line_count; ++i) {
      const SyntaxTree::Physical& physical = tree.lines_[statement.first_line + i];
      const std::string_view code = text.substr(physical.offset, physical.code);
      const std::string_view piece = trim(code);
      const std::size_t source = piece.empty() ? physical.offset : static_cast<std::size_t>(piece.data() - text.data());
      pieces_.push_back({joined, source, piece.size(), statement.first_line + i});
      joined += piece.size() + 1;
    }
  }

  // `view` lies in the statement's logical text.
  Span operator()(std::string_view view) const {
    const std::string_view text = tree_.text_;
    // A name alone has no argument text, nor a place for one.
    if (view.data() == nullptr) view = statement_.logical.substr(statement_.logical.size());
    if (!block_) {
      const std::size_t offset = static_cast<std::size_t>(view.data() - text.data());
      const SyntaxTree::Physical& physical = tree_.lines_[statement_.first_line];
      return Span{offset, statement_.first_line + 1, static_cast<std::uint32_t>(offset - physical.offset), view};
    }
    const std::size_t begin = static_cast<std::size_t>(view.data() - statement_.logical.data());
    std::size_t first = 0;
    const std::size_t source_begin = place(begin, view.empty(), first);
    std::size_t last = 0;
    const std::size_t source_end = view.empty() ? source_begin : place(begin + view.size(), true, last);
    const Piece& piece = pieces_[first];
    const std::size_t line_start = tree_.lines_[piece.line].offset;
    return Span{source_begin, piece.line + 1, static_cast<std::uint32_t>(source_begin - line_start),
                text.substr(source_begin, source_end - source_begin)};
  }

 private:
  struct Piece {
    std::size_t joined;  // where it starts in the joined text
    std::size_t source;  // and in the text read
    std::size_t size;
    std::uint32_t line;  // index of its physical line
  };

  // A position on a joining space belongs to the next piece when it starts a
  // span, and to the previous one when it ends it.
  std::size_t place(std::size_t joined, bool is_end, std::size_t& index) const {
    const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), joined,
                                        [](std::size_t position, const Piece& piece) { return position < piece.joined; });
    std::size_t i = static_cast<std::size_t>(after - pieces_.begin()) - 1;
    std::size_t within = joined - pieces_[i].joined;
    if (!is_end && within >= pieces_[i].size && i + 1 < pieces_.size()) {
      ++i;
      within = 0;
    } else if (is_end && within == 0 && i > 0) {
      --i;
      within = pieces_[i].size;
    } else {
      within = std::min(within, pieces_[i].size);
    }
    index = i;
    return pieces_[i].source + within;
  }

  const SyntaxTree& tree_;
  const SyntaxLine& statement_;
  bool block_ = false;
  std::vector<Piece> pieces_;
};

namespace {

Span empty_after(const Span& span) {
  return Span{span.end(), span.line, static_cast<std::uint32_t>(span.column + span.text.size()),
              span.text.substr(span.text.size())};
}

// Loading hands a directive its argument text as it stands; a name alone
// leaves none, given here a place at the line's end.
DirectiveLine directive_of(std::string_view logical) {
  DirectiveLine directive = split_directive(logical);
  if (directive.arguments.data() == nullptr) directive.arguments = logical.substr(logical.size());
  return directive;
}

}  // namespace

AssignmentSpans SyntaxTree::assignment(const SyntaxLine& statement) const {
  if (statement.kind != SyntaxKind::assignment) return {};
  const auto parsed = parse_assignment(statement.logical);
  if (!parsed) return {};
  const SpanPlacer span(*this, statement);
  const std::string_view logical = statement.logical;
  AssignmentSpans spans;
  spans.key = span(parsed->key);
  // Only white space lies between the key and the separator.
  const std::size_t equals = logical.find('=', static_cast<std::size_t>(parsed->key.end() - logical.begin()));
  spans.equals = span(logical.substr(equals, 1));
  const std::string_view written = trim(logical.substr(equals + 1));
  spans.value = written.empty() ? empty_after(spans.equals) : span(written);
  spans.value_read = written.empty() ? spans.value : span(parsed->value);
  return spans;
}

DirectiveSpans SyntaxTree::directive(const SyntaxLine& statement) const {
  const std::string_view logical = statement.logical;
  if (statement.kind == SyntaxKind::blank || statement.kind == SyntaxKind::comment || logical.empty() ||
      logical.front() != '@') {
    return {};
  }
  const SpanPlacer span(*this, statement);
  const DirectiveLine directive = directive_of(logical);
  DirectiveSpans spans;
  spans.kind = directive_kind(directive.name);
  spans.name = span(directive.name);
  const std::string_view arguments = trim(directive.arguments);
  spans.arguments = arguments.empty() ? empty_after(spans.name) : span(arguments);
  if (statement.kind != SyntaxKind::directive) return spans;
  switch (spans.kind) {
    case DirectiveKind::type:
      if (const auto parsed = parse_type_arguments(directive.arguments)) {
        spans.subject = span(parsed->name);
        spans.definition = span(parsed->definition);
      }
      break;
    case DirectiveKind::schema:
      if (const auto parsed = parse_schema_arguments(directive.arguments)) {
        spans.subject = span(parsed->name);
        spans.open_brace = span(parsed->open);
        spans.close_brace = span(parsed->close);
        spans.fields.reserve(parsed->fields.size());
        for (const SchemaFieldSyntax& field : parsed->fields) {
          spans.fields.push_back({span(field.name), span(field.mark), span(field.type)});
        }
      }
      break;
    case DirectiveKind::import:
      if (const auto path = parse_import_arguments(directive.arguments)) spans.subject = span(*path);
      break;
    case DirectiveKind::derive: {
      const DeriveTarget target = split_derive_arguments(directive.arguments);
      spans.subject = span(target.path);
      for (const std::string_view schema : target.schemas) spans.selectors.push_back(span(schema));
      break;
    }
    case DirectiveKind::unknown:
      break;
  }
  return spans;
}

// Fills a tree from the logical lines loading would see, and learns their
// physical lines, and those between them, from the same cutter.
class SyntaxReader final : public PhysicalLineSink {
 public:
  explicit SyntaxReader(std::string_view text) noexcept { tree_.text_ = text; }

  SyntaxTree read() && {
    const std::string_view text = tree_.text_;
    // Reserving touches no memory; it only spares the copies of growing.
    tree_.lines_.reserve(text.size() / 16 + 1);
    tree_.statements_.reserve(text.size() / 16 + 1);
    LogicalLines logical(text, this);
    std::size_t placed = 0;  // physical lines already in a statement
    while (const auto line = logical.next()) {
      // The lines cut before this one started are blank or comments.
      while (placed < tree_.lines_.size() && tree_.lines_[placed].offset < line->begin) add_gap_line(placed++);
      add_statement(*line, placed, tree_.lines_.size() - placed);
      placed = tree_.lines_.size();
    }
    while (placed < tree_.lines_.size()) add_gap_line(placed++);
    return std::move(tree_);
  }

  void physical_line(std::size_t offset, const PhysicalLine& line, std::size_t code) override {
    tree_.lines_.push_back(
        {offset, line.content.size(), code, static_cast<std::uint8_t>(line.ending.size())});
  }

 private:
  void add_gap_line(std::size_t index) {
    const SyntaxTree::Physical& physical = tree_.lines_[index];
    SyntaxLine& line = tree_.statements_.emplace_back();
    line.kind = physical.code < physical.content ? SyntaxKind::comment : SyntaxKind::blank;
    line.first_line = static_cast<std::uint32_t>(index);
    line.line_count = 1;
  }

  void add_statement(const LogicalLine& logical, std::size_t first, std::size_t count) {
    SyntaxLine& line = tree_.statements_.emplace_back();
    line.first_line = static_cast<std::uint32_t>(first);
    line.line_count = static_cast<std::uint32_t>(count);
    line.logical = logical.text;
    const std::string_view text = tree_.text_;
    if (!(std::less_equal<const char*>()(text.data(), logical.text.data()) &&
          std::less_equal<const char*>()(logical.text.data(), text.data() + text.size()))) {
      // A block's text is the loader's joined copy, reused for the next block
      // (even one still open at the end of the text, on its only line).
      line.logical = tree_.blocks_.emplace_back(logical.text);
    }
    line.kind = logical.text.front() == '@' ? SyntaxKind::directive : SyntaxKind::assignment;
    if (auto refused = refusal(line.logical, logical.number)) {
      line.kind = SyntaxKind::unreadable;
      line.error = static_cast<std::int32_t>(tree_.errors_.size());
      tree_.errors_.push_back(std::move(*refused));
    }
  }

  // The error loading raises for this line before running anything, if any.
  static std::optional<VyrlError> refusal(std::string_view logical, std::size_t number) {
    if (logical.front() != '@') {
      const auto assignment = parse_assignment(logical);
      if (!assignment) return assignment_error(number, logical, assignment.error());
      return std::nullopt;
    }
    const DirectiveLine directive = directive_of(logical);
    if (directive.name.empty()) return empty_directive_error(number, directive);
    switch (directive_kind(directive.name)) {
      case DirectiveKind::type:
        if (auto parsed = parse_type_arguments(directive.arguments); !parsed) return std::move(parsed.error());
        break;
      case DirectiveKind::schema:
        if (auto parsed = parse_schema_arguments(directive.arguments); !parsed) return std::move(parsed.error());
        break;
      case DirectiveKind::import:
        if (auto parsed = parse_import_arguments(directive.arguments); !parsed) return std::move(parsed.error());
        break;
      case DirectiveKind::derive:
        break;
      case DirectiveKind::unknown:
        return unknown_directive_error(number, directive);
    }
    return std::nullopt;
  }

  SyntaxTree tree_;
};

SyntaxTree read_syntax(std::string_view text) { return SyntaxReader(text).read(); }

}  // namespace vyrl
