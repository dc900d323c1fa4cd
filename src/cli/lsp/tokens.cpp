#include "lsp/tokens.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "literal/literal.hpp"
#include "lsp/scope.hpp"
#include "types/families.hpp"
#include "types/list.hpp"
#include "types/quick_check.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl::cli::lsp {
namespace {

namespace mod = token_modifier;

// A value or type nested deeper than this is coloured whole: nesting is
// walked by recursion, and a line of brackets alone must not exhaust the
// stack.
constexpr int kMaxNesting = 32;

// Bytes of the text, on one physical line.
struct Piece {
  std::size_t begin;
  std::size_t end;
  std::uint32_t line;
  TokenType type;
  std::uint32_t modifiers;
};

bool is_quote(char c) { return c == '"' || c == '\''; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Finds the tokens of one statement at a time, as byte ranges of the text.
class Tokens {
 public:
  Tokens(const SyntaxTree& tree, const OpenText& document, const Workspace& workspace)
      : tree_(tree), document_(document), workspace_(workspace) {}

  // Appends the statement's tokens, comments included, cut at line ends and
  // in the order of the text.
  void statement(const SyntaxLine& statement, std::vector<Piece>& out) {
    found_.clear();
    switch (statement.kind) {
      case SyntaxKind::assignment: {
        const AssignmentSpans spans = tree_.assignment(statement);
        add(spans.key.text, TokenType::key);
        value(spans.value.text, 0);
        break;
      }
      case SyntaxKind::directive:
      case SyntaxKind::unreadable:
        directive(statement);
        break;
      default:
        break;
    }
    const std::size_t first = out.size();
    for (std::uint32_t line = statement.first_line; line < statement.first_line + statement.line_count; ++line) {
      const Span comment = tree_.line(line).comment;
      if (!comment.empty()) out.push_back({comment.offset, comment.end(), line, TokenType::comment, 0});
    }
    for (const Found& token : found_) cut(statement, token, out);
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
  }

 private:
  struct Found {
    std::size_t begin;
    std::size_t end;
    TokenType type;
    std::uint32_t modifiers;
  };

  // Every span and view here lies in the text the tree was read from.
  void add(std::string_view bytes, TokenType type, std::uint32_t modifiers = 0) {
    if (bytes.empty()) return;
    const auto begin = static_cast<std::size_t>(bytes.data() - tree_.text().data());
    found_.push_back({begin, begin + bytes.size(), type, modifiers});
  }

  void directive(const SyntaxLine& statement) {
    const DirectiveSpans spans = tree_.directive(statement);
    const std::string_view name = spans.name.text;
    if (spans.kind == DirectiveKind::unknown) return;
    // With its "@", which stands right before the name.
    add(tree_.text().substr(spans.name.offset - 1, name.size() + 1), TokenType::directive);
    // A line loading refuses has its name coloured alone; its diagnostic
    // says the rest.
    if (statement.kind != SyntaxKind::directive) return;
    if (spans.kind == DirectiveKind::import || spans.kind == DirectiveKind::derive) {
      add(requoted(spans.subject.text, tree_.text()), TokenType::text, mod::path);
      for (const Span& selector : spans.selectors) add(selector.text, TokenType::schema);
    } else if (spans.kind == DirectiveKind::type) {
      add(spans.subject.text, TokenType::alias, mod::declaration);
      type_name(spans.definition.text, 0);
    } else {
      add(spans.subject.text, TokenType::schema, mod::declaration);
      for (const SchemaFieldSpans& field : spans.fields) {
        add(field.name.text, TokenType::key, mod::declaration);
        type_name(field.type.text, 0);
      }
    }
  }

  // As a field's type resolves: an alias first, then a schema, then a
  // built-in name.
  void type_name(std::string_view name, int depth) {
    if (name.empty()) return;
    if (aliases().contains(name)) return add(name, TokenType::alias);
    if (schemas().contains(name)) return add(name, TokenType::schema);
    if (const auto element = ListType::parse_inner(name); element && depth < kMaxNesting) {
      add(name.substr(0, name.find('<')), TokenType::type, mod::default_library);
      return type_name(*element, depth + 1);
    }
    if (builtin_scalar(name).type != nullptr) {
      const bool unit = family_of(name)->name == "physics";
      return add(name, unit ? TokenType::unit : TokenType::type, mod::default_library);
    }
    add(name, TokenType::type);
  }

  // A value as written, or an item or field value of one. Quotes keep a
  // value text whatever it holds; only a bare value is a number or colour.
  void value(std::string_view text, int depth) {
    if (text.empty()) return;
    if (text.size() >= 2 && is_quote(text.front()) && text.back() == text.front()) return add(text, TokenType::text);
    if (depth < kMaxNesting) {
      if (const auto body = wrapped_body(text, '[', ']')) {
        for_each_list_item(*body, [&](std::string_view item) {
          value(item, depth + 1);
          return true;
        });
        return;
      }
      if (const auto fields = parse_inline_object_views(text)) {
        for (const FieldSplit& field : *fields) {
          add(field.key, TokenType::key);
          value(requoted(field.value, text), depth + 1);
        }
        return;
      }
    }
    if (QuickCheck{QuickCheck::Kind::Number}.accepts(text)) return add(text, TokenType::number);
    if (QuickCheck{QuickCheck::Kind::Color}.accepts(text)) return add(text, TokenType::number, mod::color);
    add(text, TokenType::text);
  }

  // A field value or a path comes without the quotes around it; they are
  // coloured with it.
  static std::string_view requoted(std::string_view value, std::string_view within) {
    const char* before = value.data() - 1;
    const char* after = value.data() + value.size();
    if (before >= within.data() && after < within.data() + within.size() && is_quote(*before) && *after == *before) {
      return std::string_view(before, value.size() + 2);
    }
    return value;
  }

  // Cuts a token at the ends of the physical lines it spans, leaving out the
  // comments and the indentation it runs over there.
  void cut(const SyntaxLine& statement, const Found& token, std::vector<Piece>& out) const {
    if (statement.line_count == 1) {
      out.push_back({token.begin, token.end, statement.first_line, token.type, token.modifiers});
      return;
    }
    const std::string_view text = tree_.text();
    // From the line the token starts on: a block may have thousands of lines
    // and a token on each.
    std::uint32_t low = statement.first_line;
    std::uint32_t high = statement.first_line + statement.line_count;
    while (high - low > 1) {
      const std::uint32_t middle = low + (high - low) / 2;
      (tree_.line(middle).content.offset <= token.begin ? low : high) = middle;
    }
    for (std::uint32_t line = low; line < statement.first_line + statement.line_count; ++line) {
      const SourceLine source = tree_.line(line);
      if (source.content.offset >= token.end) break;
      const std::size_t code_end = source.comment.empty() ? source.content.end() : source.comment.offset;
      std::size_t begin = std::max(token.begin, source.content.offset);
      std::size_t end = std::min(token.end, code_end);
      while (begin < end && is_blank(text[begin])) ++begin;
      while (end > begin && is_blank(text[end - 1])) --end;
      if (begin < end) out.push_back({begin, end, line, token.type, token.modifiers});
    }
  }

  const std::unordered_set<std::string_view>& aliases() {
    declared();
    return aliases_;
  }
  const std::unordered_set<std::string_view>& schemas() {
    declared();
    return schemas_;
  }

  // Read the first time a type name is met: most lines name none, and a
  // document without schemas need not read its imports at all.
  void declared() {
    if (scope_) return;
    // The names the loader holds once the document is read, imports included.
    scope_ = scope_of(document_, workspace_);
    const Model& model = scope_->model();
    for (const Model::Alias& alias : model.aliases()) {
      if (model.alias(alias.name) == &alias) aliases_.insert(alias.name);
    }
    for (const Model::Schema& schema : model.schemas()) {
      if (model.schema(schema.name) == &schema) schemas_.insert(schema.name);
    }
  }

  const SyntaxTree& tree_;
  const OpenText& document_;
  const Workspace& workspace_;
  std::vector<Found> found_;
  std::shared_ptr<const Scope> scope_;
  std::unordered_set<std::string_view> aliases_;
  std::unordered_set<std::string_view> schemas_;
};

// The byte a client's position names, in the tree's text.
std::size_t offset_in(const SyntaxTree& tree, Position position, Encoding encoding) {
  if (position.line >= tree.line_count()) return tree.text().size();
  const Span content = tree.line(position.line).content;
  return content.offset + offset_of(content.text, Position{0, position.character}, encoding);
}

}  // namespace

SemanticTokensLegend token_legend() {
  // In the order of TokenType, and of the modifiers' bits.
  return {{"property", "string", "number", "comment", "keyword", "type", "class", "typeParameter", "enumMember"},
          {"declaration", "defaultLibrary", "color", "path"}};
}

SemanticTokens semantic_tokens(const OpenText& document, const Workspace& workspace, std::optional<Range> range) {
  const SyntaxTree tree = read_syntax(document.text);
  const auto statements = tree.statements();
  std::size_t from = 0;
  std::size_t to = tree.text().size();
  auto first = statements.begin();
  auto last = statements.end();
  if (range) {
    Position start = range->start;
    Position end = range->end;
    if (end.line < start.line || (end.line == start.line && end.character < start.character)) std::swap(start, end);
    from = offset_in(tree, start, workspace.encoding);
    to = offset_in(tree, end, workspace.encoding);
    // The statements on the lines asked about.
    first = std::ranges::upper_bound(statements, start.line, {}, [](const SyntaxLine& s) { return s.first_line; });
    if (first != statements.begin()) --first;
    last = std::ranges::upper_bound(statements, end.line, {}, [](const SyntaxLine& s) { return s.first_line; });
  }

  Tokens tokens(tree, document, workspace);
  std::vector<Piece> pieces;
  pieces.reserve(static_cast<std::size_t>(last - first) * 3);
  for (auto statement = first; statement < last; ++statement) tokens.statement(*statement, pieces);

  SemanticTokens out;
  out.data.reserve(pieces.size() * 5);
  std::uint32_t previous_line = 0;
  std::uint32_t previous_start = 0;
  std::size_t previous_end = 0;
  std::optional<ColumnCounter> columns;
  std::uint32_t counted_line = 0;
  for (const Piece& piece : pieces) {
    if (range && (piece.end <= from || piece.begin >= to)) continue;
    // Tokens never overlap; should a broken line make two, the first wins.
    if (piece.begin < previous_end) continue;
    previous_end = piece.end;
    const std::size_t line_offset = tree.line(piece.line).content.offset;
    if (!columns || counted_line != piece.line) {
      columns.emplace(tree.line(piece.line).content.text, workspace.encoding);
      counted_line = piece.line;
    }
    const auto start = static_cast<std::uint32_t>(columns->column(piece.begin - line_offset));
    const auto length = static_cast<std::uint32_t>(columns->column(piece.end - line_offset)) - start;
    out.data.push_back(piece.line - previous_line);
    out.data.push_back(piece.line == previous_line ? start - previous_start : start);
    out.data.push_back(length);
    out.data.push_back(static_cast<std::uint32_t>(piece.type));
    out.data.push_back(piece.modifiers);
    previous_line = piece.line;
    previous_start = start;
  }
  return out;
}

}  // namespace vyrl::cli::lsp
