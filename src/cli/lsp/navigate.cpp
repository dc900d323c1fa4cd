#include "lsp/navigate.hpp"

#include <algorithm>
#include <optional>
#include <variant>

#include "lsp/scope.hpp"
#include "vyrl/diagnostics.hpp"
#include "vyrl/edit.hpp"

namespace vyrl::cli::lsp {
namespace {

Location location(const std::string& uri, const Range& range) { return Location{uri, range, {}}; }

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

std::string describe_builtin(std::string_view written, const BuiltinType& type) {
  std::string out = "`" + type.name + "` (" + type.family + "): " + type.description;
  // Every list is written its own way; only another spelling of a name is news.
  if (type.family != "list" && written != type.name) {
    out += "\n\n`" + std::string(written) + "` is another spelling of `" + type.name + "`";
  }
  return out;
}

// What a type name means where the document stands, as the loader resolves it.
std::string describe_type(std::string_view name, const Scope& scope) {
  const Model& model = scope.model();
  const Model::Resolution resolution = model.resolve(name);
  const BuiltinType* builtin =
      resolution.ends == Model::Resolution::Ends::builtin ? find_builtin_type(resolution.name) : nullptr;
  if (!resolution.aliases.empty()) {
    const Model::Alias& alias = model.aliases()[resolution.aliases.front()];
    std::string out = "alias `" + std::string(alias.name) + "` = `" + std::string(alias.definition) + "` (" +
                      scope.describe(alias.place) + ")";
    if (builtin != nullptr) out += "\n\n" + describe_builtin(resolution.name, *builtin);
    return out;
  }
  if (resolution.ends == Model::Resolution::Ends::schema) {
    const Model::Schema* schema = model.schema(resolution.name);
    if (schema == nullptr) return {};
    std::string out = "schema `" + std::string(schema->name) + "` (" + scope.describe(schema->place) +
                      "): an inline object `{ field = value, ... }`";
    for (const Model::Field& field : schema->fields) {
      out += "\n- `" + std::string(field.name) + (field.optional ? "*" : "") + ": " + std::string(field.type_name) + "`";
    }
    return out;
  }
  return builtin != nullptr ? describe_builtin(name, *builtin) : std::string();
}

std::string describe_field(std::string_view name, std::string_view schema, std::string_view type, const Scope& scope) {
  std::string text =
      "field `" + std::string(name) + "` of schema `" + std::string(schema) + "`, type `" + std::string(type) + "`";
  if (const std::string described = describe_type(type, scope); !described.empty()) text += "\n\n" + described;
  return text;
}

std::string describe_key(std::string_view name, std::uint32_t line, const Scope& scope) {
  const Model& model = scope.model();
  std::string text = "`";
  text.append(name);  // built in place: GCC 12 misreads "`" + string as an overlapping copy
  text += "`";
  const Model::Key* key = model.key(name);
  if (key != nullptr) {
    const Model::Assignment& winner = model.winner(*key);
    text += " = `" + std::string(winner.value) + "` (" + scope.describe(winner.place) + ")";
    if (const Model::Typing* typing = model.typing(winner)) {
      const Model::Schema& schema = model.schemas()[typing->declaration];
      const auto field = std::ranges::find(schema.fields, name, &Model::Field::name);
      const bool optional = field != schema.fields.end() && field->optional;
      text += "\n\nfield `" + std::string(name) + "` of schema `" + std::string(schema.name) + "`, " +
              (optional ? "optional" : "required") + ", type `" + std::string(typing->type_name) + "` (" +
              scope.describe(schema.place) + ")";
      if (const std::string type = describe_type(typing->type_name, scope); !type.empty()) text += "\n\n" + type;
      return text;
    }
  }
  // The line under the cursor failed: the loader's own error says which
  // field it was checked against.
  for (const VyrlError* error : scope.errors_at(line)) {
    if (const auto* field = std::get_if<VyrlError::SchemaValidationError>(&error->kind())) {
      return text + "\n\n" + describe_field(field->field, field->schema, field->type_name, scope);
    }
  }
  return text;
}

std::optional<Location> located(const Scope& scope, std::uint32_t file, const std::optional<Range>& range) {
  if (!range) return std::nullopt;
  return location(scope.uri(file), *range);
}

Hover markdown(std::string text, const SyntaxTree& tree, const Span& span, Encoding encoding) {
  return Hover{std::move(text), range_of(tree, span, encoding)};
}

}  // namespace

std::optional<Hover> hover(const OpenText& document, Position position, const Workspace& workspace) {
  const auto scope = scope_of(document, workspace);
  const SyntaxTree& tree = scope->tree();
  const std::size_t offset = offset_of(document.text, position, workspace.encoding);
  const Pointed pointed = pointed_at(tree, position.line, offset);
  const auto answer = [&](std::string text) -> std::optional<Hover> {
    if (text.empty()) return std::nullopt;
    return markdown(std::move(text), tree, pointed.span, workspace.encoding);
  };
  switch (pointed.kind) {
    case Pointed::Kind::directive:
      return answer(std::string(directive_meaning(pointed.text)));
    case Pointed::Kind::type:
      return answer(describe_type(pointed.text, *scope));
    case Pointed::Kind::key:
      return answer(describe_key(pointed.text, pointed.line, *scope));
    case Pointed::Kind::field: {
      if (const Model::Schema* schema = scope->schema_at({0, pointed.line})) {
        const auto field = std::ranges::find(schema->fields, pointed.text, &Model::Field::name);
        if (field == schema->fields.end()) return std::nullopt;
        return answer(describe_field(field->name, schema->name, field->type_name, *scope));
      }
      // The @schema line failed, so the loader declared nothing: what it says is as written.
      const SyntaxLine* statement = scope->statement_at(0, pointed.line);
      if (statement == nullptr) return std::nullopt;
      for (const SchemaFieldSpans& field : tree.directive(*statement).fields) {
        if (field.name.text == pointed.text) {
          return answer(describe_field(field.name.text, pointed.owner, field.type.text, *scope));
        }
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::vector<Location>> definition(const OpenText& document, Position position,
                                                const Workspace& workspace) {
  const auto scope = scope_of(document, workspace);
  const Model& model = scope->model();
  const Pointed pointed = pointed_at(scope->tree(), position.line, offset_of(document.text, position, workspace.encoding));
  const Model::Place here{0, pointed.line};
  switch (pointed.kind) {
    case Pointed::Kind::path: {
      const Model::Read* read = scope->read_at(here);
      if (read == nullptr || !read->file || !model.files()[*read->file].readable) return std::nullopt;
      return std::vector{location(scope->uri(*read->file), Range{})};
    }
    case Pointed::Kind::selector: {
      const Model::Read* read = scope->read_at(here);
      if (read == nullptr || !read->file) return std::nullopt;
      // The schema this line took, else the one the base holds by that name.
      const Model::Schema* chosen = nullptr;
      for (const Model::Schema& schema : model.schemas()) {
        if (schema.name != pointed.text || !scope->reached_through(schema.place.file, *read->file)) continue;
        chosen = &schema;
        if (schema.derived_at == here) break;
      }
      if (chosen == nullptr) return std::nullopt;
      const auto found = located(*scope, chosen->place.file, scope->name_range(chosen->place));
      if (!found) return std::nullopt;
      return std::vector{*found};
    }
    case Pointed::Kind::type: {
      const Model::Resolution resolution = model.resolve(pointed.text);
      std::optional<Model::Place> place;
      if (!resolution.aliases.empty()) {
        place = model.aliases()[resolution.aliases.front()].place;
      } else if (resolution.ends == Model::Resolution::Ends::schema) {
        if (const Model::Schema* schema = model.schema(resolution.name)) place = schema->place;
      }
      if (!place) return std::nullopt;
      const auto found = located(*scope, place->file, scope->name_range(*place));
      if (!found) return std::nullopt;
      return std::vector{*found};
    }
    case Pointed::Kind::key:
    case Pointed::Kind::field: {
      std::vector<Location> out;
      const auto add = [&](const std::optional<Location>& found) {
        if (found) out.push_back(*found);
      };
      bool typed = false;
      if (const Model::Key* key = model.key(pointed.text)) {
        const Model::Assignment& winner = model.winner(*key);
        add(located(*scope, winner.place.file, scope->name_range(winner.place)));
        if (const Model::Typing* typing = model.typing(winner)) {
          const Model::Place declared = model.schemas()[typing->declaration].place;
          add(located(*scope, declared.file, scope->field_range(declared, pointed.text)));
          typed = true;
        }
      }
      if (!typed && pointed.kind == Pointed::Kind::field) {
        add(located(*scope, 0, scope->field_range(here, pointed.text)));
      }
      if (out.empty()) return std::nullopt;
      return out;
    }
    default:
      return std::nullopt;
  }
}

std::vector<DocumentSymbol> document_symbols(const OpenText& document, const Workspace& workspace) {
  const auto scope = scope_of(document, workspace);
  const SyntaxTree& tree = scope->tree();
  const Encoding encoding = workspace.encoding;
  std::vector<DocumentSymbol> symbols;
  const auto symbol = [&](std::string name, SymbolKind kind, const SyntaxLine& statement, const Span& selection) {
    const std::size_t last = statement.first_line + statement.line_count - 1;
    const std::string_view last_text = tree.line(last).content.text;
    const Range whole{{statement.first_line, 0}, {last, column_of(last_text, last_text.size(), encoding)}};
    return DocumentSymbol{std::move(name), std::nullopt, kind, whole, range_of(tree, selection, encoding), std::nullopt};
  };
  // Layout from the syntax, meaning from the model where the line got that far.
  for (const SyntaxLine& statement : tree.statements()) {
    const Model::Place place{0, statement.first_line + 1};
    if (statement.kind == SyntaxKind::assignment) {
      const AssignmentSpans spans = tree.assignment(statement);
      DocumentSymbol item = symbol(std::string(spans.key.text), SymbolKind::property, statement, spans.key);
      const Model::Assignment* assignment = scope->assignment_at(place);
      item.detail = std::string(assignment != nullptr ? assignment->value : spans.value_read.text);
      symbols.push_back(std::move(item));
      continue;
    }
    if (statement.kind != SyntaxKind::directive) continue;
    const DirectiveSpans spans = tree.directive(statement);
    if (spans.subject.empty()) continue;
    if (spans.kind == DirectiveKind::schema) {
      DocumentSymbol item = symbol(std::string(spans.subject.text), SymbolKind::structure, statement, spans.subject);
      const Model::Schema* declared = scope->schema_at(place);
      std::vector<DocumentSymbol> children;
      for (const SchemaFieldSpans& field : spans.fields) {
        const Range range = range_of(tree, field.name, encoding);
        const Range whole{range.start, range_of(tree, field.type.empty() ? field.name : field.type, encoding).end};
        std::string detail = std::string(field.type.text) + (field.mark.empty() ? "" : ", optional");
        if (declared != nullptr) {
          const auto found = std::ranges::find(declared->fields, field.name.text, &Model::Field::name);
          if (found != declared->fields.end()) {
            detail = std::string(found->type_name) + (found->optional ? ", optional" : "");
          }
        }
        children.push_back(DocumentSymbol{std::string(field.name.text), std::move(detail), SymbolKind::field,
                                          whole.end.line == whole.start.line ? whole : range, range, std::nullopt});
      }
      item.children = std::move(children);
      symbols.push_back(std::move(item));
    } else if (spans.kind == DirectiveKind::type) {
      DocumentSymbol item = symbol(std::string(spans.subject.text), SymbolKind::type_parameter, statement, spans.subject);
      item.detail = std::string(spans.definition.text);
      symbols.push_back(std::move(item));
    } else if (spans.kind == DirectiveKind::import || spans.kind == DirectiveKind::derive) {
      const Model::Read* read = scope->read_at(place);
      DocumentSymbol item = symbol(std::string(read != nullptr ? read->written : spans.subject.text), SymbolKind::file,
                                   statement, spans.subject);
      std::string detail = "@";
      detail.append(spans.name.text);  // built in place: GCC 12 misreads "@" + string as an overlapping copy
      item.detail = std::move(detail);
      symbols.push_back(std::move(item));
    }
  }
  return symbols;
}

std::vector<TextEdit> formatting(const OpenText& document, const Workspace& workspace) {
  const auto formatted = format(document.text, document.path);
  std::vector<TextEdit> edits;
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
  edits.push_back(TextEdit{Range{{0, 0}, end}, *formatted});
  return edits;
}

}  // namespace vyrl::cli::lsp
