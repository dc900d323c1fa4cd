#include "lsp/navigate.hpp"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "lsp/scope.hpp"
#include "lsp/uri.hpp"
#include "vyrl/edit.hpp"

namespace vyrl::cli::lsp {
namespace {

using json = nlohmann::json;

// SymbolKind values of the protocol.
constexpr int kFileSymbol = 1;
constexpr int kPropertySymbol = 7;
constexpr int kFieldSymbol = 8;
constexpr int kStructSymbol = 23;
constexpr int kTypeParameterSymbol = 26;

json to_json(Position position) { return {{"line", position.line}, {"character", position.character}}; }
json to_json(const Range& range) { return {{"start", to_json(range.start)}, {"end", to_json(range.end)}}; }
json location(const std::string& uri, const Range& range) { return {{"uri", uri}, {"range", to_json(range)}}; }

std::string_view directive_meaning(std::string_view name) {
  switch (directive_kind(name)) {
    case DirectiveKind::import:
      return "`@import path` reads another file and runs its lines here, as if written in this file.";
    case DirectiveKind::type:
      return "`@type name = definition` names a type: a primitive or a built-in name with `::`.";
    case DirectiveKind::schema:
      return "`@schema Name { field: type, ... }` declares fields that type the keys after it, and a type for inline "
             "objects; a `*` after a field's name makes it optional.";
    case DirectiveKind::derive:
      return "`@derive path::Schema` copies the base file's schemas and every value this file does not have yet; "
             "what this file holds wins.";
    case DirectiveKind::unknown:
      break;
  }
  return {};
}

// What a value of a built-in type looks like, in a line.
std::string accepts(const BuiltinType& type) {
  const std::string& name = type.name;
  if (name == "i32") return "whole numbers from -2147483648 to 2147483647";
  if (name == "f64") return "numbers, with a fraction or an exponent if need be, and `inf` or `NaN`";
  if (name == "string") return "any text, the empty one included";
  if (name == "bool") return "`true`, `false`, `1` or `0`, in any letter case";
  if (name == "color") return "`#RRGGBB` or `#RRGGBBAA` in hex";
  if (type.family == "list") return "`[item, item, ...]` with every item valid for the type between `<` and `>`";
  if (name == "time::datetime") return "a date starting `YYYY-MM-DD`, a time may follow";
  if (name == "time::duration") return "`P...` as in `PT2H30M`, or a number";
  if (type.family == "time") return "a number";
  if (name == "math::vector2") return "2 numbers, separated by commas";
  if (name == "math::vector3") return "3 numbers, separated by commas";
  if (name == "math::vector4" || name == "math::quaternion") return "4 numbers, separated by commas";
  if (name == "math::matrix3x3") return "9 numbers in one row, separated by commas";
  if (name == "math::matrix4x4") return "16 numbers in one row, separated by commas";
  if (type.family == "physics") {
    if (name == "physics::bit" || name == "physics::byte" || name == "physics::baud") {
      return "a whole number, without a unit symbol";
    }
    return "a number, without a unit symbol";
  }
  return "a value of this type";
}

std::string describe_builtin(std::string_view written, const BuiltinType& type) {
  std::string out = "`" + type.name + "` (" + type.family + "): " + accepts(type);
  if (written != type.name) out += "\n\n`" + std::string(written) + "` is another spelling of `" + type.name + "`";
  return out;
}

std::string describe_type(std::string_view name, const Scope& scope) {
  if (const AliasDeclaration* alias = scope.alias(name)) {
    std::string out = "alias `" + alias->name + "` = `" + alias->definition + "` (" + alias->where + ")";
    if (const BuiltinType* type = find_builtin(alias->definition)) out += "\n\n" + describe_builtin(alias->definition, *type);
    return out;
  }
  if (const SchemaDeclaration* schema = scope.schema(name)) {
    std::string out = "schema `" + schema->name + "` (" + schema->where + "): an inline object `{ field = value, ... }`";
    for (const FieldDeclaration& field : schema->fields) {
      out += "\n- `" + field.name + (field.optional ? "*" : "") + ": " + field.type + "`";
    }
    return out;
  }
  if (name == "list" || name.starts_with("list<")) return "`list<T>` (list): " + accepts(BuiltinType{"list", "list", {}});
  if (const BuiltinType* type = find_builtin(name)) return describe_builtin(name, *type);
  return {};
}

json markdown(std::string text, const std::string& document_text, const Span& span, Encoding encoding) {
  return {{"contents", {{"kind", "markdown"}, {"value", std::move(text)}}},
          {"range", to_json(range_of(document_text, span, encoding))}};
}

}  // namespace

json hover(const OpenText& document, Position position, const Workspace& workspace) {
  const SyntaxTree tree = read_syntax(document.text);
  const std::size_t offset = offset_of(document.text, position, workspace.encoding);
  const Pointed pointed = pointed_at(tree, position.line, offset);
  switch (pointed.kind) {
    case Pointed::Kind::directive: {
      const std::string_view meaning = directive_meaning(pointed.text);
      if (meaning.empty()) return nullptr;
      return markdown(std::string(meaning), document.text, pointed.span, workspace.encoding);
    }
    case Pointed::Kind::type: {
      const std::string text = describe_type(pointed.text, gather_scope(document, workspace, {}, &tree));
      if (text.empty()) return nullptr;
      return markdown(text, document.text, pointed.span, workspace.encoding);
    }
    case Pointed::Kind::key: {
      const Scope scope = gather_scope(document, workspace, pointed.text, &tree);
      std::string text = "`" + pointed.text + "`";
      if (const auto key = scope.keys.find(pointed.text); key != scope.keys.end()) {
        text += " = `" + key->second.value + "` (" + key->second.where + ")";
      }
      if (const FieldDeclaration* field = scope.field(pointed.text)) {
        text += "\n\nfield `" + field->name + "` of schema `" + field->schema + "`, " +
                (field->optional ? "optional" : "required") + ", type `" + field->type + "` (" + field->where + ")";
        if (const std::string type = describe_type(field->type, scope); !type.empty()) text += "\n\n" + type;
      }
      return markdown(std::move(text), document.text, pointed.span, workspace.encoding);
    }
    case Pointed::Kind::field: {
      const Scope scope = gather_scope(document, workspace, {}, &tree);
      const FieldDeclaration* field = scope.field(pointed.text);
      if (field == nullptr) return nullptr;
      std::string text = "field `" + field->name + "` of schema `" + field->schema + "`, type `" + field->type + "`";
      if (const std::string type = describe_type(field->type, scope); !type.empty()) text += "\n\n" + type;
      return markdown(std::move(text), document.text, pointed.span, workspace.encoding);
    }
    default:
      return nullptr;
  }
}

json definition(const OpenText& document, Position position, const Workspace& workspace) {
  const SyntaxTree tree = read_syntax(document.text);
  const Pointed pointed = pointed_at(tree, position.line, offset_of(document.text, position, workspace.encoding));
  switch (pointed.kind) {
    case Pointed::Kind::path: {
      const auto source = read_source(pointed.text, workspace);
      if (!source) return nullptr;
      return json::array({location(source->uri, Range{})});
    }
    case Pointed::Kind::selector: {
      const auto source = read_source(pointed.owner, workspace);
      if (!source) return nullptr;
      const Scope base = gather_scope(OpenText{source->uri, source->path, source->text}, workspace);
      const SchemaDeclaration* schema = base.schema(pointed.text);
      if (schema == nullptr) return nullptr;
      return json::array({location(schema->uri, schema->range)});
    }
    case Pointed::Kind::type: {
      const Scope scope = gather_scope(document, workspace, {}, &tree);
      if (const AliasDeclaration* alias = scope.alias(pointed.text)) return json::array({location(alias->uri, alias->range)});
      if (const SchemaDeclaration* schema = scope.schema(pointed.text)) {
        return json::array({location(schema->uri, schema->range)});
      }
      return nullptr;
    }
    case Pointed::Kind::key:
    case Pointed::Kind::field: {
      const Scope scope = gather_scope(document, workspace, pointed.text, &tree);
      json out = json::array();
      if (const auto key = scope.keys.find(pointed.text); key != scope.keys.end()) {
        out.push_back(location(key->second.uri, key->second.range));
      }
      if (const FieldDeclaration* field = scope.field(pointed.text)) out.push_back(location(field->uri, field->range));
      return out.empty() ? json(nullptr) : out;
    }
    default:
      return nullptr;
  }
}

json document_symbols(const OpenText& document, const Workspace& workspace) {
  const SyntaxTree tree = read_syntax(document.text);
  const Encoding encoding = workspace.encoding;
  json symbols = json::array();
  const auto symbol = [&](std::string name, int kind, const SyntaxLine& statement, const Span& selection) {
    const std::size_t last = statement.first_line + statement.line_count - 1;
    const std::string_view last_text = tree.line(last).content.text;
    const Range whole{{statement.first_line, 0}, {last, column_of(last_text, last_text.size(), encoding)}};
    return json{{"name", std::move(name)},
                {"kind", kind},
                {"range", to_json(whole)},
                {"selectionRange", to_json(range_of(tree, selection, encoding))}};
  };
  for (const SyntaxLine& statement : tree.statements()) {
    if (statement.kind == SyntaxKind::assignment) {
      const AssignmentSpans spans = tree.assignment(statement);
      json item = symbol(std::string(spans.key.text), kPropertySymbol, statement, spans.key);
      item["detail"] = std::string(spans.value_read.text);
      symbols.push_back(std::move(item));
      continue;
    }
    if (statement.kind != SyntaxKind::directive) continue;
    const DirectiveSpans spans = tree.directive(statement);
    if (spans.subject.empty()) continue;
    if (spans.kind == DirectiveKind::schema) {
      json item = symbol(std::string(spans.subject.text), kStructSymbol, statement, spans.subject);
      json children = json::array();
      for (const SchemaFieldSpans& field : spans.fields) {
        const Range range = range_of(tree, field.name, encoding);
        const Range whole{range.start, range_of(tree, field.type.empty() ? field.name : field.type, encoding).end};
        children.push_back({{"name", std::string(field.name.text)},
                            {"detail", std::string(field.type.text) + (field.mark.empty() ? "" : ", optional")},
                            {"kind", kFieldSymbol},
                            {"range", to_json(whole.end.line == whole.start.line ? whole : range)},
                            {"selectionRange", to_json(range)}});
      }
      item["children"] = std::move(children);
      symbols.push_back(std::move(item));
    } else if (spans.kind == DirectiveKind::type) {
      json item = symbol(std::string(spans.subject.text), kTypeParameterSymbol, statement, spans.subject);
      item["detail"] = std::string(spans.definition.text);
      symbols.push_back(std::move(item));
    } else if (spans.kind == DirectiveKind::import || spans.kind == DirectiveKind::derive) {
      json item = symbol(unquoted(spans.subject.text), kFileSymbol, statement, spans.subject);
      std::string detail = "@";
      detail.append(spans.name.text);  // built in place: GCC 12 misreads "@" + string as an overlapping copy
      item["detail"] = std::move(detail);
      symbols.push_back(std::move(item));
    }
  }
  return symbols;
}

json formatting(const OpenText& document, const Workspace& workspace) {
  const auto formatted = format(document.text, document.path);
  json edits = json::array();
  if (!formatted || *formatted == document.text) return edits;
  std::size_t lines = 0;
  std::size_t last_start = 0;
  for (std::size_t i = 0; i < document.text.size(); ++i) {
    if (document.text[i] == '\n') {
      ++lines;
      last_start = i + 1;
    }
  }
  const std::string_view last = std::string_view(document.text).substr(last_start);
  const Position end{lines, column_of(last, last.size(), workspace.encoding)};
  edits.push_back({{"range", to_json(Range{{0, 0}, end})}, {"newText", *formatted}});
  return edits;
}

}  // namespace vyrl::cli::lsp
