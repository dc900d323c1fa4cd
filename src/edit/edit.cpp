#include "vyrl/edit.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "lines/lines.hpp"
#include "statement/directive_arguments.hpp"
#include "statement/statement.hpp"
#include "text/text.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kIndent = "  ";
constexpr std::string_view kCommentGap = "  ";
constexpr std::string_view kChangedMeaning =
    "internal error: the rewritten text would read differently from the original, so it was not kept";

// --- What a text means, statement by statement. ---

// A statement's meaning as one comparable string: for an assignment its key
// and value as read, for a directive what its arguments say, not how they
// are spaced. Blank and comment lines mean nothing.
std::optional<std::string> meaning(const SyntaxLine& line) {
  std::string out;
  const auto add = [&out](std::string_view part) {
    out += part;
    out += '\0';
  };
  switch (line.kind) {
    case SyntaxKind::blank:
    case SyntaxKind::comment:
      return std::nullopt;
    case SyntaxKind::assignment: {
      const auto assignment = parse_assignment(line.logical);
      add("=");
      add(assignment->key);
      add(assignment->value);
      return out;
    }
    case SyntaxKind::unreadable:
      // Never the same as anything: an unreadable line is never written.
      add("!");
      add(line.logical);
      return out;
    case SyntaxKind::directive:
      break;
  }
  // Read from the logical text: in a block, spans run over the raw lines.
  const DirectiveLine directive = split_directive(line.logical);
  add("@");
  add(directive.name);
  switch (directive_kind(directive.name)) {
    case DirectiveKind::type:
      if (const auto parsed = parse_type_arguments(directive.arguments)) {
        add(parsed->name);
        add(parsed->definition);
      }
      break;
    case DirectiveKind::schema:
      if (const auto parsed = parse_schema_arguments(directive.arguments)) {
        add(parsed->name);
        for (const SchemaFieldSyntax& field : parsed->fields) {
          add(field.name);
          add(field.mark.empty() ? "" : "*");
          add(field.type);
        }
      }
      break;
    case DirectiveKind::import:
      if (const auto path = parse_import_arguments(directive.arguments)) add(*path);
      break;
    case DirectiveKind::derive: {
      const DeriveTarget target = split_derive_arguments(directive.arguments);
      add(target.path);
      for (const std::string_view schema : target.schemas) add(schema);
      break;
    }
    case DirectiveKind::unknown:
      break;
  }
  return out;
}

std::vector<std::string> meanings(const SyntaxTree& tree) {
  std::vector<std::string> all;
  for (const SyntaxLine& line : tree.statements()) {
    if (auto one = meaning(line)) all.push_back(std::move(*one));
  }
  return all;
}

// True when `lines` (one statement, perhaps with comments) read as exactly `expected`.
bool reads_as(const std::vector<std::string>& lines, const std::string& expected) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  const SyntaxTree tree = read_syntax(text);
  const std::vector<std::string> read = meanings(tree);
  return read.size() == 1 && read.front() == expected;
}

// --- Layout. ---

// Columns as a reader counts them: one per character, not per byte.
std::size_t width(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !is_utf8_continuation(c); }));
}

// The comment of a line without white space after it; trailing white space
// never makes or unmakes a comment.
std::string_view comment_of(const SourceLine& line) { return trim(line.comment.text); }

std::string with_comment(std::string code, std::string_view comment) {
  if (comment.empty()) return code;
  if (!code.empty()) code += kCommentGap;
  code += comment;
  return code;
}

// Whether `laid` reads back as `code` and `comment` split where they were.
// A "#" that trimming brings to the start of a line, or next to a space,
// begins a comment the next pass reads: the meaning may not change (words
// after a schema's "}", or the inner lines of a block left open, say
// nothing), but the layout would, and a second pass must leave the first
// one's text alone.
bool splits_as(std::string_view laid, std::string_view code, std::string_view comment) {
  const std::string_view before = strip_comment(laid);
  return trim(before) == code && trim(laid.substr(before.size())) == comment;
}

std::string_view line_end_of(const SyntaxTree& tree) {
  for (std::size_t i = 0; i < tree.line_count(); ++i) {
    if (const Span ending = tree.line(i).ending; !ending.empty()) return ending.text;
  }
  return "\n";
}

class Formatter {
 public:
  explicit Formatter(const SyntaxTree& tree) noexcept : tree_(tree) {}

  std::vector<std::string> lay_out() && {
    const auto statements = tree_.statements();
    for (std::size_t i = 0; i < statements.size();) {
      const SyntaxLine& line = statements[i];
      switch (line.kind) {
        case SyntaxKind::blank:
          // At most one in a row, and none before the first line.
          if (!out_.empty() && !out_.back().empty()) out_.emplace_back();
          ++i;
          break;
        case SyntaxKind::comment:
          out_.emplace_back(comment_of(tree_.first_line(line)));
          ++i;
          break;
        case SyntaxKind::assignment:
        case SyntaxKind::directive:
        case SyntaxKind::unreadable:
          if (laid_line_count(line) == 1) {
            i = lay_out_run(i);
          } else {
            lay_out_block(line);
            ++i;
          }
          break;
      }
    }
    while (!out_.empty() && out_.back().empty()) out_.pop_back();
    return std::move(out_);
  }

 private:
  // A run of consecutive one-line statements, their comments in one column.
  std::size_t lay_out_run(std::size_t first) {
    const auto statements = tree_.statements();
    std::vector<std::pair<std::string, std::string_view>> run;
    std::size_t column = 0;
    std::size_t i = first;
    for (; i < statements.size() && laid_line_count(statements[i]) == 1 &&
           (statements[i].kind == SyntaxKind::assignment || statements[i].kind == SyntaxKind::directive);
         ++i) {
      auto [code, comment] = one_line(statements[i]);
      if (!comment.empty()) column = std::max(column, width(code) + kCommentGap.size());
      run.emplace_back(std::move(code), comment);
    }
    for (auto& [code, comment] : run) {
      if (!comment.empty()) {
        code.append(column - width(code), ' ');
        code += comment;
      }
      out_.push_back(std::move(code));
    }
    return i;
  }

  // A one-line statement's code and comment, each spaced as the layout asks
  // where that keeps what the line says. Some keys and values read
  // differently once spaced ("#=1" would become a comment): those keep the
  // spacing they came with. Even trimming can change a line ("x #\v" ends in
  // a comment once its vertical tab goes), whether or not what it says
  // changes with it: such a line is kept whole. Aligning a comment further
  // only adds spaces where one already stands.
  std::pair<std::string, std::string_view> one_line(const SyntaxLine& line) const {
    const SourceLine source = tree_.first_line(line);
    const std::string_view comment = comment_of(source);
    const std::string expected = *meaning(line);
    std::string code;
    if (line.kind == SyntaxKind::assignment) {
      const AssignmentSpans spans = tree_.assignment(line);
      code = spans.key.text;
      code += spans.value.empty() ? " =" : " = ";
      code += spans.value.text;
    } else {
      code = directive_head(line, line.logical);
    }
    const auto keeps = [&](const std::string& candidate) {
      const std::string text = with_comment(candidate, comment);
      return splits_as(text, candidate, comment) && reads_as({text}, expected);
    };
    if (keeps(code)) return {std::move(code), comment};
    code = line.logical;
    if (keeps(code)) return {std::move(code), comment};
    return {std::string(source.content.text), {}};
  }

  void lay_out_block(const SyntaxLine& line) {
    const std::string expected = *meaning(line);
    std::vector<std::string> laid = block(line, true);
    if (!reads_as(laid, expected)) laid = block(line, false);
    if (!reads_as(laid, expected)) {
      laid.clear();
      for (std::size_t i = 0; i < line.line_count; ++i) laid.emplace_back(tree_.line(line.first_line + i).content.text);
    }
    for (std::string& text : laid) out_.push_back(std::move(text));
  }

  // "@name arguments" with one space between, the arguments as written.
  static std::string directive_head(const SyntaxLine& line, std::string_view piece) {
    const std::string_view name = split_directive(line.logical).name;
    std::string head = "@";
    head += name;
    const std::string_view rest = trim(piece.substr(std::min(piece.size(), 1 + name.size())));
    if (!rest.empty()) {
      head += ' ';
      head += rest;
    }
    return head;
  }

  // The physical lines a statement is laid out on. Only a block still open at
  // the end of the text can end in blank lines; they add nothing it says, and
  // the text's end drops them anyway. A block left with one line is laid out
  // as one, so that the next pass, which sees one line, agrees.
  std::size_t laid_line_count(const SyntaxLine& line) const {
    std::size_t count = line.line_count;
    while (count > 1 && trim(tree_.line(line.first_line + count - 1).content.text).empty()) --count;
    return count;
  }

  // A block's lines: the opening line, the inner ones indented, the closing
  // "}" alone. Each line's piece keeps its bytes; only where it stands and
  // what white space surrounds it change. Not `canonical`, the opening line
  // keeps its spacing and a closing "}" that shares its line stays there.
  std::vector<std::string> block(const SyntaxLine& line, bool canonical) const {
    const std::size_t count = laid_line_count(line);
    std::vector<std::string> laid;
    for (std::size_t i = 0; i < count; ++i) {
      const SourceLine source = tree_.line(line.first_line + i);
      const std::string_view piece = trim(strip_comment(source.content.text));
      const std::string_view comment = comment_of(source);
      // A line whose "#" would split elsewhere once laid out keeps its bytes.
      const auto place = [&](std::string code) {
        // A comment alone on an inner line stands where its code would.
        std::string text = trim(code).empty() ? code + std::string(comment) : with_comment(code, comment);
        laid.push_back(splits_as(text, trim(code), comment) ? std::move(text) : std::string(source.content.text));
      };
      const bool last = i + 1 == count;
      if (i == 0) {
        place(canonical ? directive_head(line, piece) : std::string(piece));
      } else if (last && piece.starts_with('}')) {
        place(std::string(piece));
      } else if (const std::string_view inner = trim(piece.substr(0, piece.empty() ? 0 : piece.size() - 1));
                 last && canonical && piece.ends_with('}') && block_is_complete(line.logical) &&
                 splits_as(std::string(kIndent) + std::string(inner), inner, {})) {
        // Only a "}" that closes the block gets a line of its own; one in a
        // block still open at the end of the text is just a character.
        laid.push_back(std::string(kIndent) + std::string(inner));
        laid.push_back(with_comment("}", comment));
      } else if (piece.empty() && comment.empty()) {
        laid.emplace_back();
      } else {
        place(std::string(kIndent) + std::string(piece));
      }
    }
    return laid;
  }

  const SyntaxTree& tree_;
  std::vector<std::string> out_;
};

VyrlError changed_meaning() { return VyrlError::invalid_value(std::string(kChangedMeaning)); }

// Loading refuses a text that is not UTF-8, and so must every rewrite:
// trimming would read its bytes as characters they are not (E3 C0 C0 as a
// wide space) and drop them. The line of the first bad byte is what a person
// needs to find it.
std::optional<VyrlError> not_utf8(std::string_view text, std::string_view source) {
  const std::size_t bad = first_invalid_utf8(text);
  if (bad == std::string_view::npos) return std::nullopt;
  const auto line = static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
  VyrlError error = VyrlError::invalid_utf8();
  error.add_outer_frame(Frame{std::string(source), line + 1, Frame::Origin::text});
  return error;
}

// A rewrite of a text that loading refuses could only blame the wrong line
// or keep the fault: the first line loading would refuse is the answer, with
// its error, as check gives it.
std::optional<VyrlError> unreadable(const SyntaxTree& tree, std::string_view source) {
  const SyntaxLine* bad = tree.first_unreadable();
  if (bad == nullptr) return std::nullopt;
  VyrlError error = *tree.error(*bad);
  error.add_outer_frame(Frame{std::string(source), tree.first_line(*bad).content.line, Frame::Origin::text});
  return error;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kKeyNotUtf8 = "cannot write the key: it is not UTF-8";
constexpr std::string_view kValueNotUtf8 = "cannot write the value: it is not UTF-8";

// A lone CR ending a laid-out line would join the line end after it into a
// CRLF, so that the next pass reads another line. It is white space and a
// comment's blank alike, so dropping it changes neither what the line says
// nor where its comment starts.
std::string_view without_trailing_carriage_returns(std::string_view line) {
  while (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// --- Editing one key. ---

std::string cannot_write_key(std::string_view key, std::string_view why) {
  return "cannot write the key '" + std::string(key) + "': " + std::string(why);
}

std::string cannot_write_value(std::string_view value, std::string_view why) {
  return "cannot write the value '" + std::string(value) + "': " + std::string(why);
}

bool has_line_break(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Why `key` cannot begin an assignment line, if it cannot.
std::optional<std::string_view> key_problem(std::string_view key) {
  if (key.empty()) return "a key cannot be empty";
  if (has_line_break(key)) return "a key cannot hold a line break";
  if (trim(key) != key) return "a key cannot begin or end with white space";
  if (key.front() == '@') return "a line starting with '@' is a directive";
  const std::string line = std::string(key) + " = x";
  if (strip_comment(line).size() < key.size()) return "a '#' in it would begin a comment";
  const auto read = parse_assignment(trim(strip_comment(line)));
  if (!read) return "its brackets would hide the '=' that ends it";
  if (read->key != key) return "an '=' in it would end the key early";
  return std::nullopt;
}

// The last assignment of `key`, or null.
const SyntaxLine* last_assignment(const SyntaxTree& tree, std::string_view key) {
  const SyntaxLine* found = nullptr;
  for (const SyntaxLine& line : tree.statements()) {
    if (line.kind == SyntaxKind::assignment && parse_assignment(line.logical)->key == key) found = &line;
  }
  return found;
}

std::optional<VyrlError> unwritable(std::string_view key, std::string_view value) {
  // Loading refuses a text that is not UTF-8 whole, which would blame the file.
  // Quoting bytes that are not UTF-8 would put them in the message too.
  if (!is_valid_utf8(key)) return VyrlError::invalid_value(std::string(kKeyNotUtf8));
  if (!is_valid_utf8(value)) return VyrlError::invalid_value(std::string(kValueNotUtf8));
  if (const auto problem = key_problem(key)) return VyrlError::invalid_value(cannot_write_key(key, *problem));
  if (has_line_break(value)) {
    return VyrlError::invalid_value(cannot_write_value(value, "a value cannot hold a line break"));
  }
  return std::nullopt;
}

// Where a value is to be written: the text around it and, for a line that
// is there already, which statement it is and whether its value was empty.
// Without `index` the value ends the text's last statement, a line of its own.
struct ValueSlot {
  std::string before;
  std::string after;
  std::optional<std::size_t> index;
  bool was_empty = false;
};

// The text with `value` in its slot, written bare, in double or in single
// quotes, whichever reads back as exactly `value`.
Result<std::string> spell(const ValueSlot& slot, std::string_view key, std::string_view value) {
  const bool fresh = !slot.index;
  // An empty value needs no space after the "="; any other value does where
  // the line has none yet.
  const bool needs_space = !value.empty() && (fresh || slot.was_empty);
  // Quotes of the kind the value does not hold read best.
  const bool single_first = value.find('"') != std::string_view::npos && value.find('\'') == std::string_view::npos;
  bool comment_in_the_way = true;
  for (const char quote : {'\0', single_first ? '\'' : '"', single_first ? '"' : '\''}) {
    std::string edited = slot.before;
    if (needs_space || (quote != '\0' && fresh)) edited += ' ';
    if (quote != '\0') edited += quote;
    edited += value;
    if (quote != '\0') edited += quote;
    edited += slot.after;
    const SyntaxTree check = read_syntax(edited);
    const auto statements = check.statements();
    const std::size_t at = slot.index.value_or(statements.size() - 1);
    if (at >= statements.size()) continue;
    const SyntaxLine& line = statements[at];
    if (line.kind == SyntaxKind::assignment && parse_assignment(line.logical)->key == key &&
        parse_assignment(line.logical)->value == value) {
      return edited;
    }
    // Bare, a value may fail for its outer spaces alone; quoted, only a
    // comment that the quotes do not cover can stop it.
    if (quote != '\0' && check.first_line(line).comment.empty()) comment_in_the_way = false;
  }
  return fail(VyrlError::invalid_value(cannot_write_value(
      value, comment_in_the_way ? "it would begin a comment however it is quoted"
                                : "neither bare nor in quotes does it read back as itself")));
}

}  // namespace

Result<std::string> format(std::string_view text, std::string_view source) {
  if (auto error = not_utf8(text, source)) return fail(std::move(*error));
  const SyntaxTree tree = read_syntax(text);
  if (auto error = unreadable(tree, source)) return fail(std::move(*error));
  const std::string_view line_end = line_end_of(tree);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const std::string& line : Formatter(tree).lay_out()) {
    out += without_trailing_carriage_returns(line);
    out += line_end;
  }
  // The guard rail: whatever the layout did, the text must mean what it meant.
  const SyntaxTree again = read_syntax(out);
  if (again.first_unreadable() != nullptr || meanings(again) != meanings(tree)) return fail(changed_meaning());
  return out;
}

Result<std::string> set_value(std::string_view text, std::string_view key, std::string_view value,
                              std::string_view source) {
  if (auto error = not_utf8(text, source)) return fail(std::move(*error));
  if (auto error = unwritable(key, value)) return fail(std::move(*error));
  const SyntaxTree tree = read_syntax(text);
  if (auto error = unreadable(tree, source)) return fail(std::move(*error));
  const SyntaxLine* target = last_assignment(tree, key);
  if (target == nullptr) {
    // The mark belongs to the first key, which only looks like this one: a
    // second key that looks the same would be appended.
    if (text.starts_with(kByteOrderMark) && last_assignment(tree, std::string(kByteOrderMark) + std::string(key))) {
      return fail(VyrlError::invalid_value(
          cannot_write_key(key, "the first line assigns it behind a byte-order mark, which makes it another key; "
                                "remove the mark first")));
    }
    std::string before(text);
    if (!before.empty() && before.back() != '\n') before += line_end_of(tree);
    before += key;
    before += " =";
    return spell(ValueSlot{std::move(before), std::string(line_end_of(tree)), std::nullopt, false}, key, value);
  }
  const Span written = tree.assignment(*target).value;
  return spell(ValueSlot{std::string(text.substr(0, written.offset)), std::string(text.substr(written.end())),
                         static_cast<std::size_t>(target - tree.statements().data()), written.empty()},
               key, value);
}

Result<std::string> assignment_line(std::string_view key, std::string_view value) {
  if (auto error = unwritable(key, value)) return fail(std::move(*error));
  return spell(ValueSlot{std::string(key) + " =", {}, std::nullopt, false}, key, value);
}

Result<std::string> delete_key(std::string_view text, std::string_view key, std::string_view source) {
  if (auto error = not_utf8(text, source)) return fail(std::move(*error));
  const SyntaxTree tree = read_syntax(text);
  if (auto error = unreadable(tree, source)) return fail(std::move(*error));
  std::string out;
  out.reserve(text.size());
  bool found = false;
  for (const SyntaxLine& line : tree.statements()) {
    if (line.kind == SyntaxKind::assignment && parse_assignment(line.logical)->key == key) {
      found = true;
      continue;
    }
    for (std::size_t i = line.first_line; i < line.first_line + line.line_count; ++i) {
      const SourceLine source = tree.line(i);
      out += source.content.text;
      out += source.ending.text;
    }
  }
  if (!found) return fail(VyrlError::not_found(std::string(key)));
  return out;
}

}  // namespace vyrl
