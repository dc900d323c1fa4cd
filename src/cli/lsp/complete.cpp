#include <algorithm>
#include <deque>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "lsp/navigate.hpp"
#include "lsp/scope.hpp"

namespace vyrl::cli::lsp {
namespace {

using json = nlohmann::json;

// CompletionItemKind values of the protocol.
constexpr int kFieldItem = 5;
constexpr int kUnitItem = 11;
constexpr int kKeywordItem = 14;
constexpr int kFileItem = 17;
constexpr int kStructItem = 22;
constexpr int kTypeParameterItem = 25;

// A workspace walk answers while the editor waits: a home directory opened
// as the project must not stall it.
constexpr std::size_t kMaxFiles = 1000;
constexpr int kMaxDepth = 8;

bool is_word(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || c == '/';
}

std::string_view trim_left(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

std::string_view trim_right(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct Items {
  json list = json::array();
  Range replaced;  // the partial word typed so far

  void add(std::string label, int kind, std::string detail = {}, std::string sort = {}) {
    json item = {{"label", label}, {"kind", kind}, {"textEdit", {{"newText", label}}}};
    item["textEdit"]["range"] = {{"start", {{"line", replaced.start.line}, {"character", replaced.start.character}}},
                                 {"end", {{"line", replaced.end.line}, {"character", replaced.end.character}}}};
    if (!detail.empty()) item["detail"] = std::move(detail);
    if (!sort.empty()) item["sortText"] = std::move(sort);
    list.push_back(std::move(item));
  }
};

void add_types(Items& items, const Scope& scope) {
  for (const BuiltinType& type : builtins()) {
    items.add(type.name, type.family == "physics" ? kUnitItem : kTypeParameterItem, type.family);
  }
  for (const AliasDeclaration& alias : scope.aliases) items.add(alias.name, kTypeParameterItem, "= " + alias.definition);
  for (const SchemaDeclaration& schema : scope.schemas) items.add(schema.name, kStructItem, "schema");
}

// Breadth first, so that a project's own files, near the root, come before
// the budget runs out in a deep build or dependency tree.
void add_paths(Items& items, const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::deque<std::pair<fs::path, int>> pending{{root, 0}};
  std::size_t files = 0;
  while (!pending.empty() && files < kMaxFiles) {
    const auto [directory, depth] = std::move(pending.front());
    pending.pop_front();
    std::error_code error;
    for (fs::directory_iterator entry(directory, fs::directory_options::skip_permission_denied, error);
         !error && entry != fs::directory_iterator() && files < kMaxFiles; entry.increment(error)) {
      std::error_code ignored;
      if (entry->is_directory(ignored)) {
        // Hidden directories hold tools' state, not a project's files.
        if (depth + 1 < kMaxDepth && !entry->path().filename().string().starts_with(".")) {
          pending.emplace_back(entry->path(), depth + 1);
        }
        continue;
      }
      ++files;
      if (entry->path().extension() == ".vyr" && entry->is_regular_file(ignored)) {
        items.add(entry->path().lexically_relative(root).generic_string(), kFileItem);
      }
    }
  }
}

}  // namespace

json completion(const OpenText& document, Position position, const Workspace& workspace) {
  const std::size_t offset = offset_of(document.text, position, workspace.encoding);
  const std::size_t line_start = document.text.rfind('\n', offset == 0 ? 0 : offset - 1);
  const std::size_t begin = (line_start == std::string::npos || offset == 0) ? 0 : line_start + 1;
  const std::string_view before = std::string_view(document.text).substr(begin, offset - begin);

  std::size_t word = before.size();
  while (word > 0 && is_word(before[word - 1])) --word;
  // A field's ":" touches its name ("port:i32"); the type after it is the
  // word, while "::" belongs to a name.
  for (std::size_t after = before.size(); after > word + 1; --after) {
    const std::size_t colon = after - 1;
    if (before[colon] == ':' && before[colon - 1] != ':' && (after == before.size() || before[after] != ':')) {
      word = after;
      break;
    }
  }
  Items items;
  items.replaced = Range{{position.line, column_of(before, word, workspace.encoding)},
                         {position.line, column_of(before, before.size(), workspace.encoding)}};
  const std::string_view ahead = trim_right(before.substr(0, word));
  const std::string_view statement = trim_left(before);

  // "@" and a partial name: the directives.
  if (trim_left(ahead) == "@") {
    for (const DirectiveKind kind : kDirectiveKinds) items.add(std::string(directive_name(kind)), kKeywordItem);
    return items.list;
  }

  const SyntaxTree tree = read_syntax(document.text);
  const Pointed here = pointed_at(tree, position.line, offset);
  const bool in_schema = statement.starts_with("@schema") || directive_kind(here.directive) == DirectiveKind::schema;

  // Where a type goes.
  const bool type_slot = ahead.ends_with("<") || (in_schema && ahead.ends_with(":")) ||
                         (statement.starts_with("@type") && ahead.ends_with("="));
  if (type_slot) {
    add_types(items, gather_scope(document, workspace, {}, &tree));
    return items.list;
  }

  // Arguments of @import and @derive: files, or after "path::" the base's schemas.
  if (statement.starts_with("@import") || statement.starts_with("@derive")) {
    const std::string_view argument = trim_left(statement.substr(7));
    if (const std::size_t selectors = argument.find("::"); selectors != std::string_view::npos) {
      if (!statement.starts_with("@derive")) return items.list;
      std::string_view base = trim_right(argument.substr(0, selectors));
      if (const auto source = read_source(base, workspace)) {
        // The selectors start after the last "::" typed.
        std::size_t last = before.rfind("::");
        items.replaced.start = Position{position.line, column_of(before, last + 2, workspace.encoding)};
        const Scope scope = gather_scope(OpenText{source->uri, source->path, source->text}, workspace);
        for (const SchemaDeclaration& schema : scope.schemas) items.add(schema.name, kStructItem, source->path);
      }
      return items.list;
    }
    if (statement.size() > 7 && (statement[7] == ' ' || statement[7] == '\t')) add_paths(items, workspace.root);
    return items.list;
  }

  // At the start of a line: the fields that still want a value, required first.
  if (trim_left(ahead).empty() && here.directive.empty()) {
    const Scope scope = gather_scope(document, workspace, {}, &tree);
    // The schema that wins for each name, the last, found in one pass: a
    // document may declare thousands.
    std::unordered_map<std::string_view, const SchemaDeclaration*> latest;
    for (const SchemaDeclaration& schema : scope.schemas) latest.insert_or_assign(schema.name, &schema);
    std::vector<const FieldDeclaration*> wanted;
    std::unordered_set<std::string_view> listed;
    for (const SchemaDeclaration& schema : scope.schemas) {
      if (latest[schema.name] != &schema) continue;  // replaced by a later one
      for (const FieldDeclaration& field : schema.fields) {
        if (!scope.assigned.contains(field.name) && listed.insert(field.name).second) wanted.push_back(&field);
      }
    }
    std::ranges::stable_partition(wanted, [](const FieldDeclaration* field) { return !field->optional; });
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const FieldDeclaration& field = *wanted[i];
      const std::string order = std::to_string(100000 + i);  // sorts as text in the order given
      items.add(field.name, kFieldItem,
                field.type + (field.optional ? ", optional" : ", required") + " (" + field.schema + ")", order);
    }
  }
  return items.list;
}

}  // namespace vyrl::cli::lsp
