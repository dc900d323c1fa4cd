// Reads arbitrary bytes into the syntax layer and holds it to its promises:
// every byte is kept and placed, the statements are those loading runs, the
// reason of an unreadable line is loading's own error, and the formatter is
// stable and keeps every statement's meaning.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lines/lines.hpp"
#include "statement/statement.hpp"
#include "syntax_audit.hpp"
#include "text/text.hpp"
#include "vyrl/document.hpp"
#include "vyrl/edit.hpp"
#include "vyrl/syntax.hpp"

namespace {

void expect(bool holds) {
  if (!holds) __builtin_trap();
}

void expect_placed(const vyrl::SyntaxTree& tree, const vyrl::Span& span) {
  const std::string_view text = tree.text();
  expect(span.end() <= text.size());
  expect(span.text.empty() || text.substr(span.offset, span.text.size()) == span.text);
  // A part the line does not have is an empty span with no position.
  if (span.line == 0) return expect(span.text.empty());
  expect(span.line <= tree.line_count());
  expect(span.offset == tree.line(span.line - 1).content.offset + span.column);
}

// The logical lines loading runs, cut and split by its own functions, must be
// the syntax layer's statements, in order.
void compare_with_loading(std::string_view text, const vyrl::SyntaxTree& tree) {
  vyrl::LogicalLines lines(text);
  const auto statements = tree.statements();
  std::size_t i = 0;
  while (const auto line = lines.next()) {
    while (i < statements.size() && (statements[i].kind == vyrl::SyntaxKind::blank ||
                                     statements[i].kind == vyrl::SyntaxKind::comment)) {
      ++i;
    }
    expect(i < statements.size());
    const vyrl::SyntaxLine& statement = statements[i++];
    expect(statement.logical == line->text);
    expect(tree.first_line(statement).content.line == line->number);
    if (line->text.front() == '@') {
      expect(statement.kind != vyrl::SyntaxKind::assignment);
      // In a block the name is one piece of the first line, as read.
      expect(tree.directive(statement).name.text == vyrl::split_directive(line->text).name);
    } else if (const auto assignment = vyrl::parse_assignment(line->text)) {
      expect(statement.kind == vyrl::SyntaxKind::assignment);
      const vyrl::AssignmentSpans spans = tree.assignment(statement);
      expect(spans.key.text == assignment->key);
      expect(spans.value_read.text == assignment->value);
    } else {
      expect(statement.kind == vyrl::SyntaxKind::unreadable);
    }
  }
  for (; i < statements.size(); ++i) {
    expect(statements[i].kind == vyrl::SyntaxKind::blank || statements[i].kind == vyrl::SyntaxKind::comment);
  }
}

// Loading stops at the first line it refuses; where nothing before that line
// could have failed for other reasons, its error is the syntax layer's.
void compare_errors(std::string_view text, const vyrl::SyntaxTree& tree) {
  // Files are never read here, and only loading knows types.
  if (!vyrl::is_valid_utf8(text) || text.find("@import") != std::string_view::npos ||
      text.find("@derive") != std::string_view::npos || text.find("@schema") != std::string_view::npos) {
    return;
  }
  const auto loaded = vyrl::VYRL::parse(text);
  const vyrl::SyntaxLine* bad = tree.first_unreadable();
  expect(loaded.has_value() == (bad == nullptr));
  if (bad == nullptr) return;
  expect(loaded.error().message() == tree.error(*bad)->message());
  expect(loaded.error().frames().back().line == tree.first_line(*bad).content.line);
}

void check_format(const vyrl::SyntaxTree& tree, std::string_view text) {
  const auto formatted = vyrl::format(text);
  // Only bytes that are not UTF-8 or an unreadable line may stop the
  // formatter: a refusal by its own guard rail is a layout that changed a
  // meaning.
  expect(formatted.has_value() == (vyrl::is_valid_utf8(text) && tree.first_unreadable() == nullptr));
  if (!formatted) return;
  const auto again = vyrl::format(*formatted);
  expect(again.has_value() && *again == *formatted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const vyrl::SyntaxTree tree = vyrl::read_syntax(text);
  expect(vyrl::SyntaxAudit::rebuild(tree) == text);
  for (std::size_t i = 0; i < tree.line_count(); ++i) {
    const vyrl::SourceLine line = tree.line(i);
    expect_placed(tree, line.content);
    expect_placed(tree, line.ending);
    expect_placed(tree, line.comment);
  }
  for (const vyrl::SyntaxLine& statement : tree.statements()) {
    const vyrl::AssignmentSpans assignment = tree.assignment(statement);
    const vyrl::DirectiveSpans directive = tree.directive(statement);
    for (const vyrl::Span* span : {&assignment.key, &assignment.equals, &assignment.value, &assignment.value_read,
                                   &directive.name, &directive.arguments, &directive.subject, &directive.definition,
                                   &directive.open_brace, &directive.close_brace}) {
      expect_placed(tree, *span);
    }
    for (const vyrl::SchemaFieldSpans& field : directive.fields) {
      expect_placed(tree, field.name);
      expect_placed(tree, field.mark);
      expect_placed(tree, field.type);
    }
    for (const vyrl::Span& selector : directive.selectors) expect_placed(tree, selector);
  }
  compare_with_loading(text, tree);
  compare_errors(text, tree);
  check_format(tree, text);
  return 0;
}
