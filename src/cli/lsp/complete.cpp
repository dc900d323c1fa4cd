#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "lsp/navigate.hpp"
#include "lsp/scope.hpp"
#include "vyrl/diagnostics.hpp"

namespace vyrl::cli::lsp {
namespace {

// Short names, as the items below are added by the dozen.
constexpr CompletionKind kFieldItem = CompletionKind::field;
constexpr CompletionKind kUnitItem = CompletionKind::unit;
constexpr CompletionKind kKeywordItem = CompletionKind::keyword;
constexpr CompletionKind kFileItem = CompletionKind::file;
constexpr CompletionKind kStructItem = CompletionKind::structure;
constexpr CompletionKind kTypeParameterItem = CompletionKind::type_parameter;

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
  std::vector<CompletionItem> list;
  Range replaced;  // the partial word typed so far

  void add(std::string label, CompletionKind kind, std::string detail = {}, std::string sort = {}) {
    TextEdit edit{replaced, label};
    list.push_back(CompletionItem{std::move(label), kind, std::move(detail), std::move(sort), std::move(edit)});
  }
};

void add_types(Items& items, const Scope& scope) {
  static const std::vector<BuiltinType> catalogue = builtin_types();
  for (const BuiltinType& type : catalogue) {
    items.add(type.name, type.family == "physics" ? kUnitItem : kTypeParameterItem, type.family);
  }
  for (const Model::Alias* alias : scope.aliases()) {
    items.add(std::string(alias->name), kTypeParameterItem, "= " + std::string(alias->definition));
  }
  for (const Model::Schema* schema : scope.schemas()) items.add(std::string(schema->name), kStructItem, "schema");
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

std::vector<CompletionItem> completion(const OpenText& document, Position position, const Workspace& workspace) {
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

  const auto scope = scope_of(document, workspace);
  const Model& model = scope->model();
  const Pointed here = pointed_at(scope->tree(), position.line, offset);
  const bool in_schema = statement.starts_with("@schema") || directive_kind(here.directive) == DirectiveKind::schema;

  // Where a type goes.
  const bool type_slot = ahead.ends_with("<") || (in_schema && ahead.ends_with(":")) ||
                         (statement.starts_with("@type") && ahead.ends_with("="));
  if (type_slot) {
    add_types(items, *scope);
    return items.list;
  }

  // Arguments of @import and @derive: files, or after "path::" the base's schemas.
  if (statement.starts_with("@import") || statement.starts_with("@derive")) {
    if (before.find("::") != std::string_view::npos) {
      if (!statement.starts_with("@derive")) return items.list;
      // The base as this line read it, if loading got that far.
      const Model::Read* read = scope->read_at({0, static_cast<std::uint32_t>(position.line + 1)});
      if (read == nullptr || !read->file || !model.files()[*read->file].readable) return items.list;
      // The selectors start after the last "::" typed.
      const std::size_t last = before.rfind("::");
      items.replaced.start = Position{position.line, column_of(before, last + 2, workspace.encoding)};
      // What the base holds in the end: the last declaration of each name read through it.
      std::unordered_map<std::string_view, const Model::Schema*> latest;
      std::vector<std::string_view> order;
      for (const Model::Schema& schema : model.schemas()) {
        if (!scope->reached_through(schema.place.file, *read->file)) continue;
        if (latest.insert_or_assign(schema.name, &schema).second) order.push_back(schema.name);
      }
      for (const std::string_view name : order) items.add(std::string(name), kStructItem, std::string(read->written));
      return items.list;
    }
    if (statement.size() > 7 && (statement[7] == ' ' || statement[7] == '\t')) add_paths(items, workspace.root);
    return items.list;
  }

  // At the start of a line: the fields that still want a value, required first.
  if (trim_left(ahead).empty() && here.directive.empty()) {
    std::vector<std::pair<const Model::Field*, std::string_view>> wanted;  // with its schema
    std::unordered_set<std::string_view> listed;
    for (const Model::Schema* schema : scope->schemas()) {
      for (const Model::Field& field : schema->fields) {
        if (model.key(field.name) == nullptr && listed.insert(field.name).second) wanted.emplace_back(&field, schema->name);
      }
    }
    std::ranges::stable_partition(wanted, [](const auto& field) { return !field.first->optional; });
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const auto& [field, schema] = wanted[i];
      const std::string order = std::to_string(100000 + i);  // sorts as text in the order given
      items.add(std::string(field->name), kFieldItem,
                std::string(field->type_name) + (field->optional ? ", optional" : ", required") + " (" +
                    std::string(schema) + ")",
                order);
    }
  }
  return items.list;
}

}  // namespace vyrl::cli::lsp
