#include "lsp/scope.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <unordered_map>

#include "lsp/uri.hpp"
#include "vyrl/options.hpp"

namespace vyrl::cli::lsp {
namespace {

// Imports nest no deeper in any file a person writes; a cycle stops at once
// through `visiting`, this only bounds the work.
constexpr int kMaxDepth = 16;

bool contains(const Span& span, std::size_t offset) { return offset >= span.offset && offset <= span.end(); }

std::string shown_path(const std::filesystem::path& path, const std::filesystem::path& root) {
  const std::filesystem::path relative = path.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return path.native();
  return relative.generic_string();
}

// Units are matched ignoring letter case, "-" and "_", as loading does.
std::string unit_key(std::string_view name) {
  std::string key;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return key;
}

struct Collector {
  const Workspace& workspace;
  std::string_view key;
  std::set<std::string> visiting;

  void collect(const Source& source, Scope& scope, int depth, const SyntaxTree* read = nullptr) {
    if (depth > kMaxDepth || !visiting.insert(source.path).second) return;
    std::optional<SyntaxTree> own;
    const SyntaxTree& tree = read != nullptr ? *read : own.emplace(read_syntax(source.text));
    const std::string file = shown_path(source.path, workspace.root);
    const auto declared = [&](Declaration& out, std::string_view name, const Span& span) {
      out.name = std::string(name);
      out.uri = source.uri;
      out.where = file + ":" + std::to_string(span.line);
      out.range = range_of(tree, span, workspace.encoding);
    };
    for (const SyntaxLine& statement : tree.statements()) {
      if (statement.kind == SyntaxKind::assignment) {
        const AssignmentSpans spans = tree.assignment(statement);
        scope.assigned.emplace(spans.key.text);
        if (spans.key.text != this->key) continue;
        KeyDeclaration key;
        declared(key, spans.key.text, spans.key);
        key.value = std::string(spans.value_read.text);
        scope.keys.insert_or_assign(key.name, std::move(key));
        continue;
      }
      if (statement.kind != SyntaxKind::directive) continue;
      const DirectiveSpans spans = tree.directive(statement);
      if (spans.name.text == "schema" && !spans.subject.empty()) {
        SchemaDeclaration schema;
        declared(schema, spans.subject.text, spans.subject);
        for (const SchemaFieldSpans& field : spans.fields) {
          FieldDeclaration out;
          declared(out, field.name.text, field.name);
          out.type = std::string(field.type.text);
          out.optional = !field.mark.empty();
          out.schema = schema.name;
          schema.fields.push_back(std::move(out));
        }
        scope.schemas.push_back(std::move(schema));
      } else if (spans.name.text == "type" && !spans.subject.empty()) {
        AliasDeclaration alias;
        declared(alias, spans.subject.text, spans.subject);
        alias.definition = std::string(spans.definition.text);
        scope.aliases.push_back(std::move(alias));
      } else if (spans.name.text == "import") {
        if (const auto imported = read_source(spans.subject.text, workspace)) collect(*imported, scope, depth + 1);
      } else if (spans.name.text == "derive") {
        const auto base = read_source(spans.subject.text, workspace);
        if (!base) continue;
        Scope derived;
        collect(*base, derived, depth + 1);
        merge_derived(std::move(derived), spans.selectors, scope);
      }
    }
    visiting.erase(source.path);
  }

  // What the document already holds wins over the base's.
  static void merge_derived(Scope derived, const std::vector<Span>& selectors, Scope& scope) {
    for (SchemaDeclaration& schema : derived.schemas) {
      const bool selected = selectors.empty() || std::ranges::any_of(selectors, [&](const Span& selector) {
                              return selector.text == schema.name;
                            });
      if (selected && scope.schema(schema.name) == nullptr) scope.schemas.push_back(std::move(schema));
    }
    for (AliasDeclaration& alias : derived.aliases) {
      if (scope.alias(alias.name) == nullptr) scope.aliases.push_back(std::move(alias));
    }
    for (auto& [name, key] : derived.keys) scope.keys.try_emplace(name, std::move(key));
    scope.assigned.merge(derived.assigned);
  }
};

// The word of a type under `offset`: list<...> nests names, which are cut at
// its brackets and commas.
Pointed type_word(const Span& span, std::size_t offset) {
  const std::string_view text = span.text;
  const auto separates = [](char c) { return c == '<' || c == '>' || c == ',' || c == ' ' || c == '\t'; };
  std::size_t begin = std::min(offset - span.offset, text.size());
  std::size_t end = begin;
  while (begin > 0 && !separates(text[begin - 1])) --begin;
  while (end < text.size() && !separates(text[end])) ++end;
  if (begin == end) return {};
  Pointed out;
  out.kind = Pointed::Kind::type;
  out.text = std::string(text.substr(begin, end - begin));
  out.span = Span{span.offset + begin, span.line, static_cast<std::uint32_t>(span.column + begin), text.substr(begin, end - begin)};
  return out;
}

}  // namespace

const SchemaDeclaration* Scope::schema(std::string_view name) const {
  const auto found = std::ranges::find_if(schemas.rbegin(), schemas.rend(), [&](const auto& s) { return s.name == name; });
  return found == schemas.rend() ? nullptr : &*found;
}

const AliasDeclaration* Scope::alias(std::string_view name) const {
  const auto found = std::ranges::find_if(aliases.rbegin(), aliases.rend(), [&](const auto& a) { return a.name == name; });
  return found == aliases.rend() ? nullptr : &*found;
}

const FieldDeclaration* Scope::field(std::string_view name) const {
  for (auto schema = schemas.rbegin(); schema != schemas.rend(); ++schema) {
    for (const FieldDeclaration& field : schema->fields) {
      if (field.name == name) return &field;
    }
  }
  return nullptr;
}

std::string unquoted(std::string_view written) {
  if (written.size() >= 2 && (written.front() == '"' || written.front() == '\'') && written.back() == written.front()) {
    written = written.substr(1, written.size() - 2);
  }
  return std::string(written);
}

std::optional<Source> read_source(std::string_view written, const Workspace& workspace) {
  const std::string name = unquoted(written);
  if (name.empty()) return std::nullopt;
  const std::filesystem::path given(name);
  const std::filesystem::path path = (given.is_absolute() ? given : workspace.root / given).lexically_normal();
  if (const OpenText* open = workspace.find_open(path.native())) return Source{open->uri, path.native(), open->text};
  if (!workspace.read_disk) return std::nullopt;
  // Only regular files: anything else could block the server on its reads.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  auto text = read_file_from_disk(path.native(), Options{});
  if (!text) return std::nullopt;
  return Source{uri_from_path(path.native()), path.native(), std::move(*text)};
}

Scope gather_scope(const OpenText& document, const Workspace& workspace, std::string_view key, const SyntaxTree* tree) {
  Collector collector{workspace, key, {}};
  Scope scope;
  collector.collect(Source{document.uri, document.path, document.text}, scope, 0, tree);
  return scope;
}

namespace {

Range range_in_line(std::size_t line, std::string_view content, const Span& span, Encoding encoding) {
  // A span over several lines of a block ends, here, with its first line.
  const std::size_t end = std::min<std::size_t>(span.column + span.text.size(), content.size());
  return Range{{line, column_of(content, span.column, encoding)}, {line, column_of(content, end, encoding)}};
}

}  // namespace

Range range_of(std::string_view text, const Span& span, Encoding encoding) {
  const std::size_t line = span.line == 0 ? 0 : span.line - 1;
  return range_in_line(line, line_text(text, line), span, encoding);
}

Range range_of(const SyntaxTree& tree, const Span& span, Encoding encoding) {
  const std::size_t line = span.line == 0 ? 0 : span.line - 1;
  if (line >= tree.line_count()) return Range{{line, 0}, {line, 0}};
  return range_in_line(line, tree.line(line).content.text, span, encoding);
}

Pointed pointed_at(const SyntaxTree& tree, std::size_t line, std::size_t offset) {
  const auto statements = tree.statements();
  const auto after = std::ranges::upper_bound(statements, line, {}, [](const SyntaxLine& s) { return s.first_line; });
  if (after == statements.begin()) return {};
  const SyntaxLine& statement = *(after - 1);
  if (line >= statement.first_line + statement.line_count) return {};

  Pointed out;
  if (statement.kind == SyntaxKind::assignment) {
    const AssignmentSpans spans = tree.assignment(statement);
    if (contains(spans.key, offset)) {
      out.kind = Pointed::Kind::key;
      out.text = std::string(spans.key.text);
      out.span = spans.key;
    }
    return out;
  }
  if (statement.kind != SyntaxKind::directive && statement.kind != SyntaxKind::unreadable) return out;
  const DirectiveSpans spans = tree.directive(statement);
  if (spans.name.empty()) return out;
  out.directive = std::string(spans.name.text);
  if (offset + 1 >= spans.name.offset && offset <= spans.name.end()) {
    out.kind = Pointed::Kind::directive;
    out.text = out.directive;
    out.span = spans.name;
    return out;
  }
  if (spans.name.text == "import" || spans.name.text == "derive") {
    if (!spans.subject.empty() && contains(spans.subject, offset)) {
      out.kind = Pointed::Kind::path;
      out.text = unquoted(spans.subject.text);
      out.span = spans.subject;
      return out;
    }
    for (const Span& selector : spans.selectors) {
      if (contains(selector, offset)) {
        out.kind = Pointed::Kind::selector;
        out.text = std::string(selector.text);
        out.span = selector;
        out.owner = unquoted(spans.subject.text);
        return out;
      }
    }
    return out;
  }
  if (spans.name.text == "type" || spans.name.text == "schema") {
    if (!spans.subject.empty() && contains(spans.subject, offset)) {
      out.kind = Pointed::Kind::type;
      out.text = std::string(spans.subject.text);
      out.span = spans.subject;
      return out;
    }
    if (!spans.definition.empty() && contains(spans.definition, offset)) {
      Pointed word = type_word(spans.definition, offset);
      word.directive = out.directive;
      return word;
    }
    for (const SchemaFieldSpans& field : spans.fields) {
      if (contains(field.name, offset)) {
        out.kind = Pointed::Kind::field;
        out.text = std::string(field.name.text);
        out.span = field.name;
        out.owner = std::string(spans.subject.text);
        return out;
      }
      if (!field.type.empty() && contains(field.type, offset)) {
        Pointed word = type_word(field.type, offset);
        word.directive = out.directive;
        return word;
      }
    }
  }
  return out;
}

const std::vector<BuiltinType>& builtins() {
  static const std::vector<BuiltinType> all = builtin_types();
  return all;
}

const BuiltinType* find_builtin(std::string_view name) {
  static const auto index = [] {
    std::unordered_map<std::string, const BuiltinType*> out;
    for (const BuiltinType& type : builtins()) {
      const bool unit = type.family == "physics";
      out.emplace(unit ? unit_key(type.name) : type.name, &type);
      for (const std::string& alias : type.aliases) out.emplace(unit ? unit_key(alias) : alias, &type);
    }
    return out;
  }();
  auto found = index.find(std::string(name));
  if (found == index.end() && name.starts_with("physics::")) found = index.find(unit_key(name));
  return found == index.end() ? nullptr : found->second;
}

}  // namespace vyrl::cli::lsp
