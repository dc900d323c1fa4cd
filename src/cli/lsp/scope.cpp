#include "lsp/scope.hpp"

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "lsp/uri.hpp"
#include "vyrl/options.hpp"

namespace vyrl::cli::lsp {
namespace {

// Imports nest no deeper than loading nests files, which fails past this.
// Each file is walked once a request (see Collector), so this bounds the
// recursion, not the work.
constexpr int kMaxDepth = 64;

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

// Where a line's path leads, as read_source looks for it.
std::optional<std::filesystem::path> source_path(std::string_view written, const Workspace& workspace) {
  const std::string name = unquoted(written);
  if (name.empty()) return std::nullopt;
  const std::filesystem::path given(name);
  return (given.is_absolute() ? given : workspace.root / given).lexically_normal();
}

std::optional<Source> read_source_at(const std::filesystem::path& path, const Workspace& workspace) {
  if (const OpenText* open = workspace.find_open(path.native())) return Source{open->uri, path.native(), open->text};
  if (!workspace.read_disk) return std::nullopt;
  // Only regular files: anything else could block the server on its reads.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  auto text = read_file_from_disk(path.native(), Options{});
  if (!text) return std::nullopt;
  return Source{uri_from_path(path.native()), path.native(), std::move(*text)};
}

// Declarations added to a scope, each held once, in the order of its last
// addition: adding one again moves it to the end. The one that wins for a
// name, the last, is the one that would win were every addition kept, but a
// file that many routes reach does not add its declarations many times over.
// What finds a declaration or a name is built only once asked for: a file
// that imports nothing needs neither.
template <class Declared>
class Sequence {
 public:
  // A declaration just read, which no sequence can hold yet.
  void add_new(Declared& item) {
    items_.push_back(&item);
    if (named_) names_.insert(item.name);
  }

  // One that this sequence may hold already.
  void add(Declared& item) {
    if (!indexed_) {
      for (std::size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i], i);
      indexed_ = true;
    }
    const auto [at, added] = index_.try_emplace(&item, items_.size());
    if (!added) {
      items_[at->second] = nullptr;
      at->second = items_.size();
      ++holes_;
    }
    items_.push_back(&item);
    if (named_) names_.insert(item.name);
    if (holes_ > items_.size() / 2) compact();
  }

  bool has(std::string_view name) {
    if (!named_) {
      each([&](const Declared& item) { names_.insert(item.name); });
      named_ = true;
    }
    return names_.contains(name);
  }

  template <class Visit>
  void each(Visit visit) const {
    for (Declared* item : items_) {
      if (item != nullptr) visit(*item);
    }
  }

 private:
  void compact() {
    std::erase(items_, nullptr);
    index_.clear();
    for (std::size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i], i);
    holes_ = 0;
  }

  std::vector<Declared*> items_;  // null where an item moved on
  std::unordered_map<const Declared*, std::size_t> index_;
  std::unordered_set<std::string_view> names_;
  bool indexed_ = false;
  bool named_ = false;
  std::size_t holes_ = 0;
};

// What a walk does to the one key asked about: an assignment replaces what
// came before it, a value @derive brings stands only where there was none.
struct KeyEffect {
  KeyDeclaration* assigned = nullptr;  // the last assignment
  KeyDeclaration* offered = nullptr;   // what a base brought before any assignment

  void assign(KeyDeclaration& key) { assigned = &key; }
  void offer(KeyDeclaration& key) {
    if (assigned == nullptr && offered == nullptr) offered = &key;
  }
  void then(const KeyEffect& later) {
    if (later.assigned != nullptr) {
      assign(*later.assigned);
    } else if (later.offered != nullptr) {
      offer(*later.offered);
    }
  }
  // The value left where there was none before.
  KeyDeclaration* result() const { return assigned != nullptr ? assigned : offered; }
};

// What reading one file adds to the scope that reads it, with everything its
// own @import and @derive lines add.
struct Contribution {
  Sequence<SchemaDeclaration> schemas;
  Sequence<AliasDeclaration> aliases;
  KeyEffect key;
  std::unordered_set<std::string> assigned;

  // Adds what `later` adds, as reading it here would.
  void then(const Contribution& later) {
    later.schemas.each([&](SchemaDeclaration& schema) { schemas.add(schema); });
    later.aliases.each([&](AliasDeclaration& alias) { aliases.add(alias); });
    key.then(later.key);
    assigned.insert(later.assigned.begin(), later.assigned.end());
  }
};

// The contributions being built into one scope, innermost first: together,
// what that scope holds at the line being read.
struct Open {
  Contribution& contribution;
  const Open* outer;

  bool has_schema(std::string_view name) const {
    return contribution.schemas.has(name) || (outer != nullptr && outer->has_schema(name));
  }
  bool has_alias(std::string_view name) const {
    return contribution.aliases.has(name) || (outer != nullptr && outer->has_alias(name));
  }
};

// Walks a document and the files its lines name. Each file is read and
// walked once: reached again by another route, it adds what it added the
// first time, so that files importing each other many times over cost no
// more than their number. A file that imports itself, directly or not,
// stops there, and no more than loading's limit of files are read.
class Collector {
 public:
  Collector(const Workspace& workspace, std::string_view key) : workspace_(workspace), key_(key) {}

  // Once: the declarations move into the scope.
  Scope gather(const OpenText& document, const SyntaxTree& tree) {
    files_[document.path].state = State::walking;
    Contribution own;
    walk(Source{document.uri, document.path, document.text}, tree, 0, own, nullptr);
    Scope scope;
    own.schemas.each([&](SchemaDeclaration& schema) { scope.schemas.push_back(std::move(schema)); });
    own.aliases.each([&](AliasDeclaration& alias) { scope.aliases.push_back(std::move(alias)); });
    if (KeyDeclaration* key = own.key.result()) scope.keys.emplace(key->name, std::move(*key));
    scope.assigned = std::move(own.assigned);
    return scope;
  }

 private:
  enum class State { unread, walking, walked };
  struct File {
    State state = State::unread;
    Contribution contribution;
  };

  // What the file a line names adds, walked the first time it is reached;
  // null when it adds nothing.
  const Contribution* reach(std::string_view written, int depth, const Open* outer) {
    if (depth > kMaxDepth) return nullptr;
    const auto path = source_path(written, workspace_);
    if (!path) return nullptr;
    const auto [found, added] = files_.try_emplace(path->native());
    File& file = found->second;
    if (!added || reads_ >= Limits::kDefaultMaxFileLoads) {
      return file.state == State::walked ? &file.contribution : nullptr;
    }
    ++reads_;
    const auto source = read_source_at(*path, workspace_);
    if (!source) return nullptr;
    file.state = State::walking;
    walk(*source, read_syntax(source->text), depth, file.contribution, outer);
    file.state = State::walked;
    return &file.contribution;
  }

  void walk(const Source& source, const SyntaxTree& tree, int depth, Contribution& out, const Open* outer) {
    const Open here{out, outer};
    const std::string file = shown_path(source.path, workspace_.root);
    const auto declared = [&](Declaration& declaration, std::string_view name, const Span& span) {
      declaration.name = std::string(name);
      declaration.uri = source.uri;
      declaration.where = file + ":" + std::to_string(span.line);
      declaration.range = range_of(tree, span, workspace_.encoding);
    };
    for (const SyntaxLine& statement : tree.statements()) {
      if (statement.kind == SyntaxKind::assignment) {
        const AssignmentSpans spans = tree.assignment(statement);
        out.assigned.emplace(spans.key.text);
        if (spans.key.text != key_) continue;
        KeyDeclaration& key = keys_.emplace_back();
        declared(key, spans.key.text, spans.key);
        key.value = std::string(spans.value_read.text);
        out.key.assign(key);
        continue;
      }
      if (statement.kind != SyntaxKind::directive) continue;
      const DirectiveSpans spans = tree.directive(statement);
      if (spans.kind == DirectiveKind::schema && !spans.subject.empty()) {
        SchemaDeclaration& schema = schemas_.emplace_back();
        declared(schema, spans.subject.text, spans.subject);
        for (const SchemaFieldSpans& field : spans.fields) {
          FieldDeclaration& declaration = schema.fields.emplace_back();
          declared(declaration, field.name.text, field.name);
          declaration.type = std::string(field.type.text);
          declaration.optional = !field.mark.empty();
          declaration.schema = schema.name;
        }
        out.schemas.add_new(schema);
      } else if (spans.kind == DirectiveKind::type && !spans.subject.empty()) {
        AliasDeclaration& alias = aliases_.emplace_back();
        declared(alias, spans.subject.text, spans.subject);
        alias.definition = std::string(spans.definition.text);
        out.aliases.add_new(alias);
      } else if (spans.kind == DirectiveKind::import) {
        // Read as if written here: it sees, and adds to, what this scope holds.
        if (const Contribution* imported = reach(spans.subject.text, depth + 1, &here)) out.then(*imported);
      } else if (spans.kind == DirectiveKind::derive) {
        // Read into a scope of its own, then merged.
        if (const Contribution* base = reach(spans.subject.text, depth + 1, nullptr)) {
          merge_derived(*base, spans.selectors, out, here);
        }
      }
    }
  }

  // What the document already holds wins over the base's.
  static void merge_derived(const Contribution& base, const std::vector<Span>& selectors, Contribution& out,
                            const Open& here) {
    base.schemas.each([&](SchemaDeclaration& schema) {
      const bool selected = selectors.empty() || std::ranges::any_of(selectors, [&](const Span& selector) {
                              return selector.text == schema.name;
                            });
      if (selected && !here.has_schema(schema.name)) out.schemas.add(schema);
    });
    base.aliases.each([&](AliasDeclaration& alias) {
      if (!here.has_alias(alias.name)) out.aliases.add(alias);
    });
    if (KeyDeclaration* key = base.key.result()) out.key.offer(*key);
    out.assigned.insert(base.assigned.begin(), base.assigned.end());
  }

  const Workspace& workspace_;
  std::string_view key_;
  std::unordered_map<std::string, File> files_;  // by resolved path; elements stay put
  std::size_t reads_ = 0;
  // Every declaration read, where contributions point.
  std::deque<SchemaDeclaration> schemas_;
  std::deque<AliasDeclaration> aliases_;
  std::deque<KeyDeclaration> keys_;
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
  const auto path = source_path(written, workspace);
  if (!path) return std::nullopt;
  return read_source_at(*path, workspace);
}

Scope gather_scope(const OpenText& document, const Workspace& workspace, std::string_view key, const SyntaxTree* tree) {
  std::optional<SyntaxTree> own;
  return Collector(workspace, key).gather(document, tree != nullptr ? *tree : own.emplace(read_syntax(document.text)));
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
  if (spans.kind == DirectiveKind::import || spans.kind == DirectiveKind::derive) {
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
  if (spans.kind == DirectiveKind::type || spans.kind == DirectiveKind::schema) {
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
