#include "lsp/scope.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "lsp/uri.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli::lsp {
namespace {

// A file with an error on every line would otherwise make a diagnostic of
// each, far more than anyone reads; the count past this is only kept.
constexpr std::size_t kMaxErrors = 1000;

bool contains(const Span& span, std::size_t offset) { return offset >= span.offset && offset <= span.end(); }

std::uint64_t key_of(Model::Place place) { return (std::uint64_t{place.file} << 32) | place.line; }

std::filesystem::path resolve(const std::filesystem::path& root, std::string_view written) {
  const std::filesystem::path path(written);
  return (path.is_absolute() ? path : root / path).lexically_normal();
}

// The server reads files while the editor waits, and its own standard input
// is the protocol: a FIFO would block it, and /dev/stdin would eat messages.
// Regular files and directories (which fail at once) are read; nothing else.
bool readable_without_blocking(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return error || status.type() == std::filesystem::file_type::not_found ||
         std::filesystem::is_regular_file(status) || std::filesystem::is_directory(status);
}

// Serves the files that lines name from the editor's open texts first, then
// from the disk, where paths start at the workspace's root.
class WorkspaceReader final : public FileReader {
 public:
  explicit WorkspaceReader(const Workspace& workspace) : workspace_(workspace) {}

  Result<std::string> read(std::string_view path) override {
    const std::filesystem::path resolved = resolve(workspace_.root, path);
    if (const OpenText* open = workspace_.find_open(resolved.native())) return open->text;
    if (!workspace_.read_disk) return fail(VyrlError::io(ENOENT));
    if (!readable_without_blocking(resolved)) return fail(VyrlError::io(EPERM));
    return read_file_from_disk(resolved.native(), Options{});
  }

 private:
  const Workspace& workspace_;
};

// The word of a type under `offset`: list<...> nests names, which are cut at
// its brackets and commas. The word before a "<" stands for the whole list
// type, up to its matching ">".
Pointed type_word(const Span& span, std::size_t offset) {
  const std::string_view text = span.text;
  const auto separates = [](char c) { return c == '<' || c == '>' || c == ',' || c == ' ' || c == '\t'; };
  std::size_t begin = std::min(offset - span.offset, text.size());
  std::size_t end = begin;
  while (begin > 0 && !separates(text[begin - 1])) --begin;
  while (end < text.size() && !separates(text[end])) ++end;
  if (begin == end) return {};
  if (end < text.size() && text[end] == '<') {
    int depth = 0;
    for (std::size_t i = end; i < text.size(); ++i) {
      if (text[i] == '<') ++depth;
      if (text[i] == '>' && --depth == 0) {
        end = i + 1;
        break;
      }
    }
  }
  Pointed out;
  out.kind = Pointed::Kind::type;
  out.text = std::string(text.substr(begin, end - begin));
  out.span = Span{span.offset + begin, span.line, static_cast<std::uint32_t>(span.column + begin), text.substr(begin, end - begin)};
  return out;
}

Range range_in_line(std::size_t line, std::string_view content, const Span& span, Encoding encoding) {
  // A span over several lines of a block ends, here, with its first line.
  const std::size_t end = std::min<std::size_t>(span.column + span.text.size(), content.size());
  return Range{{line, column_of(content, span.column, encoding)}, {line, column_of(content, end, encoding)}};
}

}  // namespace

Scope::Scope(const OpenText& document, const Workspace& workspace) : model_(kMaxErrors), encoding_(workspace.encoding) {
  WorkspaceReader reader(workspace);
  Options options;
  options.file_reader = &reader;
  options.model = &model_;
  (void)VYRL::parse_as(document.text, document.path, options);

  const auto& files = model_.files();
  uris_.reserve(files.size());
  for (std::uint32_t i = 0; i < files.size(); ++i) {
    files_.insert_or_assign(files[i].path, i);
    if (i == 0) {
      uris_.push_back(document.uri);
      continue;
    }
    const std::filesystem::path resolved = resolve(workspace.root, files[i].path);
    read_paths_.insert(resolved.native());
    const OpenText* open = workspace.find_open(resolved.native());
    uris_.push_back(open != nullptr ? open->uri : uri_from_path(resolved.native()));
  }
  const std::filesystem::path relative = std::filesystem::path(document.path).lexically_relative(workspace.root);
  shown_path_ = relative.empty() || *relative.begin() == ".." ? document.path : relative.generic_string();
  // A line refused before its file was read (one the loader would not open)
  // still names a file whose change could let it be read.
  for (const Model::Read& read : model_.reads()) {
    if (!read.written.empty()) read_paths_.insert(resolve(workspace.root, read.written).native());
  }
}

std::shared_ptr<const Scope> scope_of(const OpenText& document, const Workspace& workspace) {
  if (document.checked && document.checked->text() == document.text) return document.checked;
  return std::make_shared<const Scope>(document, workspace);
}

std::optional<std::uint32_t> Scope::file_named(std::string_view path) const {
  const auto found = files_.find(path);
  if (found == files_.end()) return std::nullopt;
  return found->second;
}

const SyntaxLine* Scope::statement_at(std::uint32_t file, std::size_t line) const {
  if (line == 0) return nullptr;
  const auto statements = tree(file).statements();
  const auto after =
      std::ranges::upper_bound(statements, line - 1, {}, [](const SyntaxLine& s) { return std::size_t{s.first_line}; });
  if (after == statements.begin()) return nullptr;
  const SyntaxLine& statement = *(after - 1);
  if (line - 1 >= statement.first_line + statement.line_count) return nullptr;
  return &statement;
}

Range Scope::range(std::uint32_t file, const Span& span) const { return range_of(tree(file), span, encoding_); }

Range Scope::failure_range(std::uint32_t file, std::size_t line, bool value_failed) const {
  const SyntaxTree& syntax = tree(file);
  const std::size_t index = line == 0 ? 0 : line - 1;
  if (index >= syntax.line_count()) return Range{{index, 0}, {index, 0}};
  const SourceLine physical = syntax.line(index);
  const SyntaxLine* statement = statement_at(file, index + 1);
  if (statement == nullptr || statement->logical.empty() || statement->first_line != index) {
    return range(file, physical.content);
  }
  if (statement->kind == SyntaxKind::assignment) {
    const AssignmentSpans spans = syntax.assignment(*statement);
    if (value_failed && !spans.value.empty()) return range(file, spans.value);
    if (!spans.key.empty()) return range(file, spans.key);
  }
  // The statement as loading reads it: comment cut and trimmed.
  const std::string_view text = syntax.text();
  const std::string_view logical = statement->logical;
  if (logical.data() >= text.data() && logical.data() + logical.size() <= text.data() + text.size()) {
    const std::size_t offset = static_cast<std::size_t>(logical.data() - text.data());
    return range(file, Span{offset, physical.content.line,
                            static_cast<std::uint32_t>(offset - physical.content.offset), logical});
  }
  // A block's joined text is no part of the file: its first line stands for it.
  const DirectiveSpans spans = syntax.directive(*statement);
  std::size_t begin = spans.name.empty() ? physical.content.offset : spans.name.offset - 1;
  std::size_t end = physical.comment.empty() ? physical.content.end() : physical.comment.offset;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return range(file, Span{begin, physical.content.line, static_cast<std::uint32_t>(begin - physical.content.offset),
                          text.substr(begin, end - begin)});
}

std::optional<Range> Scope::name_range(Place place) const {
  const SyntaxLine* statement = statement_at(place.file, place.line);
  if (statement == nullptr) return std::nullopt;
  const SyntaxTree& syntax = tree(place.file);
  if (statement->kind == SyntaxKind::assignment) return range(place.file, syntax.assignment(*statement).key);
  const DirectiveSpans spans = syntax.directive(*statement);
  if (spans.subject.empty()) return std::nullopt;
  return range(place.file, spans.subject);
}

std::optional<Range> Scope::field_range(Place place, std::string_view field) const {
  const SyntaxLine* statement = statement_at(place.file, place.line);
  if (statement == nullptr) return std::nullopt;
  const DirectiveSpans spans = tree(place.file).directive(*statement);
  // A field written twice counts with its last writing, as the schema does.
  const auto found = std::ranges::find(spans.fields.rbegin(), spans.fields.rend(), field,
                                       [](const SchemaFieldSpans& f) { return f.name.text; });
  if (found == spans.fields.rend()) return std::nullopt;
  return range(place.file, found->name);
}

std::vector<const Model::Schema*> Scope::schemas() const {
  std::vector<const Model::Schema*> out;
  for (const Model::Schema& schema : model_.schemas()) {
    if (model_.schema(schema.name) == &schema) out.push_back(&schema);
  }
  return out;
}

std::vector<const Model::Alias*> Scope::aliases() const {
  std::vector<const Model::Alias*> out;
  for (const Model::Alias& alias : model_.aliases()) {
    if (model_.alias(alias.name) == &alias) out.push_back(&alias);
  }
  return out;
}

const Scope::Index& Scope::index() const {
  if (index_) return *index_;
  Index& index = index_.emplace();
  // A later record at the same place (a file read twice) is the one in effect.
  const auto fill = [](auto& map, const auto& items, auto place) {
    for (std::size_t i = 0; i < items.size(); ++i) map.insert_or_assign(key_of(place(items[i])), i);
  };
  fill(index.assignments, model_.assignments(), [](const Model::Assignment& a) { return a.place; });
  fill(index.schemas, model_.schemas(), [](const Model::Schema& s) { return s.place; });
  fill(index.aliases, model_.aliases(), [](const Model::Alias& a) { return a.place; });
  fill(index.reads, model_.reads(), [](const Model::Read& r) { return r.by; });
  return index;
}

namespace {
template <class Item>
const Item* at(const std::unordered_map<std::uint64_t, std::size_t>& map, std::span<const Item> items,
               Model::Place place) {
  const auto found = map.find(key_of(place));
  return found == map.end() ? nullptr : &items[found->second];
}
}  // namespace

const Model::Assignment* Scope::assignment_at(Place place) const {
  return at(index().assignments, model_.assignments(), place);
}
const Model::Schema* Scope::schema_at(Place place) const { return at(index().schemas, model_.schemas(), place); }
const Model::Alias* Scope::alias_at(Place place) const { return at(index().aliases, model_.aliases(), place); }
const Model::Read* Scope::read_at(Place place) const { return at(index().reads, model_.reads(), place); }

std::string Scope::describe(Place place) const {
  std::string text = model_.describe_with_route(place);
  // The document is loaded under its full path, which its errors' frames
  // carry; in a line for people it reads as the files it imports do.
  const std::string& full = model_.files().front().path;
  if (full == shown_path_) return text;
  for (std::size_t at = text.find(full); at != std::string::npos; at = text.find(full, at + shown_path_.size())) {
    const std::size_t after = at + full.size();
    if ((at == 0 || text[at - 1] == ' ') && after < text.size() && text[after] == ':') {
      text.replace(at, full.size(), shown_path_);
    }
  }
  return text;
}

bool Scope::reached_through(std::uint32_t file, std::uint32_t ancestor) const {
  for (std::optional<std::uint32_t> at = file; at;) {
    if (*at == ancestor) return true;
    const auto& by = model_.files()[*at].read_by;
    at = by ? std::optional(by->file) : std::nullopt;
  }
  return false;
}

std::vector<const VyrlError*> Scope::errors_at(std::size_t line) const {
  std::vector<const VyrlError*> out;
  for (const VyrlError& error : model_.errors()) {
    const auto& frames = error.frames();
    if (frames.size() == 1 && frames.front().line == line) out.push_back(&error);
  }
  return out;
}

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
  out.line = statement.first_line + 1;
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
  const auto typed = [&](Pointed word) {
    word.directive = out.directive;
    word.line = out.line;
    return word;
  };
  if (offset + 1 >= spans.name.offset && offset <= spans.name.end()) {
    out.kind = Pointed::Kind::directive;
    out.text = out.directive;
    out.span = spans.name;
    return out;
  }
  // Paths are as the syntax layer reads them, which is how loading reads them.
  if (spans.kind == DirectiveKind::import || spans.kind == DirectiveKind::derive) {
    if (!spans.subject.empty() && contains(spans.subject, offset)) {
      out.kind = Pointed::Kind::path;
      out.text = std::string(spans.subject.text);
      out.span = spans.subject;
      return out;
    }
    for (const Span& selector : spans.selectors) {
      if (contains(selector, offset)) {
        out.kind = Pointed::Kind::selector;
        out.text = std::string(selector.text);
        out.span = selector;
        out.owner = std::string(spans.subject.text);
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
    if (!spans.definition.empty() && contains(spans.definition, offset)) return typed(type_word(spans.definition, offset));
    for (const SchemaFieldSpans& field : spans.fields) {
      if (contains(field.name, offset)) {
        out.kind = Pointed::Kind::field;
        out.text = std::string(field.name.text);
        out.span = field.name;
        out.owner = std::string(spans.subject.text);
        return out;
      }
      if (!field.type.empty() && contains(field.type, offset)) return typed(type_word(field.type, offset));
    }
  }
  return out;
}

}  // namespace vyrl::cli::lsp
