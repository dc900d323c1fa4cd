#include "lsp/protocol.hpp"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

namespace vyrl::cli::lsp {
namespace {

using json = nlohmann::json;

// TextDocumentSyncKind.Incremental and DiagnosticSeverity's Error and Warning.
constexpr int kIncrementalSync = 2;
constexpr int kErrorSeverity = 1;
constexpr int kWarningSeverity = 2;

// Paths and texts from the client may hold any bytes; what goes out stays
// JSON.
std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

void append_string(std::string& out, std::string_view text) { out += dump(json(text)); }

// What is written out directly follows the order json's objects keep their
// keys in, sorted, so that a message reads the same whichever way it was made.
void append_position(std::string& out, Position position) {
  out += "{\"character\":";
  out += std::to_string(position.character);
  out += ",\"line\":";
  out += std::to_string(position.line);
  out += '}';
}

void append_range(std::string& out, const Range& range) {
  out += "{\"end\":";
  append_position(out, range.end);
  out += ",\"start\":";
  append_position(out, range.start);
  out += '}';
}

void append_diagnostic(std::string& out, const Diagnostic& diagnostic) {
  out += "{\"message\":";
  append_string(out, diagnostic.message);
  out += ",\"range\":";
  append_range(out, diagnostic.range);
  if (!diagnostic.chain.empty() || !diagnostic.hints.empty()) {
    out += ",\"relatedInformation\":[";
    bool first = true;
    // The files that led to the failure, then how to fix it.
    for (const auto* locations : {&diagnostic.chain, &diagnostic.hints}) {
      for (const Location& location : *locations) {
        if (!first) out += ',';
        first = false;
        out += "{\"location\":{\"range\":";
        append_range(out, location.range);
        out += ",\"uri\":";
        append_string(out, location.uri);
        out += "},\"message\":";
        append_string(out, location.message);
        out += '}';
      }
    }
    out += ']';
  }
  out += ",\"severity\":";
  out += std::to_string(diagnostic.warning ? kWarningSeverity : kErrorSeverity);
  out += ",\"source\":\"vyrl\"}";
}

template <class Item>
std::string array_text(const std::vector<Item>& items) {
  json out = json::array();
  for (const Item& item : items) out.push_back(to_json(item));
  return dump(out);
}

// A line or column from the client. Counts are unsigned and fit in 31 bits by
// the protocol; anything else (negative, fractional, huge) is clamped rather
// than cast, which for a double out of range would be undefined.
std::size_t read_index(const json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) return 0;  // negative
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (!(number >= 0)) return 0;
    return number >= 9e15 ? std::size_t{1} << 53 : static_cast<std::size_t>(number);
  }
  return value.get<std::size_t>();  // throws for anything but a number or a boolean
}

Position read_position(const json& value) {
  return Position{read_index(value.at("line")), read_index(value.at("character"))};
}

Range read_range(const json& value) { return Range{read_position(value.at("start")), read_position(value.at("end"))}; }

std::optional<long long> read_version(const json& item) {
  if (item.contains("version") && item["version"].is_number_integer()) return item["version"].get<long long>();
  return std::nullopt;
}

std::optional<std::string> string_at(const json& object, const char* key) {
  if (object.is_object() && object.contains(key) && object[key].is_string()) return object[key].get<std::string>();
  return std::nullopt;
}

}  // namespace

json to_json(Position position) { return {{"line", position.line}, {"character", position.character}}; }
json to_json(const Range& range) { return {{"start", to_json(range.start)}, {"end", to_json(range.end)}}; }
json to_json(const Location& location) { return {{"uri", location.uri}, {"range", to_json(location.range)}}; }

json to_json(const Diagnostic& diagnostic) {
  std::string text;
  append_diagnostic(text, diagnostic);
  return json::parse(text);
}

json to_json(const TextEdit& edit) { return {{"range", to_json(edit.range)}, {"newText", edit.new_text}}; }

json to_json(const Hover& hover) {
  return {{"contents", {{"kind", "markdown"}, {"value", hover.markdown}}}, {"range", to_json(hover.range)}};
}

json to_json(const CompletionItem& item) {
  json out = {{"label", item.label}, {"kind", static_cast<int>(item.kind)}, {"textEdit", to_json(item.text_edit)}};
  if (!item.detail.empty()) out["detail"] = item.detail;
  if (!item.sort_text.empty()) out["sortText"] = item.sort_text;
  return out;
}

json to_json(const DocumentSymbol& symbol) {
  json out = {{"name", symbol.name},
              {"kind", static_cast<int>(symbol.kind)},
              {"range", to_json(symbol.range)},
              {"selectionRange", to_json(symbol.selection_range)}};
  if (symbol.detail) out["detail"] = *symbol.detail;
  if (symbol.children) {
    json children = json::array();
    for (const DocumentSymbol& child : *symbol.children) children.push_back(to_json(child));
    out["children"] = std::move(children);
  }
  return out;
}

json to_json(const CodeAction& action) {
  json diagnostics = json::array();
  for (const Diagnostic& diagnostic : action.diagnostics) diagnostics.push_back(to_json(diagnostic));
  json changes = json::object();
  for (const auto& [uri, edits] : action.changes) {
    json list = json::array();
    for (const TextEdit& edit : edits) list.push_back(to_json(edit));
    changes[uri] = std::move(list);
  }
  return {{"title", action.title},
          {"kind", "quickfix"},
          {"diagnostics", std::move(diagnostics)},
          {"isPreferred", action.preferred},
          {"edit", {{"changes", std::move(changes)}}}};
}

json to_json(const InitializeResult& result) {
  return {{"capabilities",
           {{"positionEncoding", result.encoding == Encoding::utf8 ? "utf-8" : "utf-16"},
            {"textDocumentSync",
             {{"openClose", true}, {"change", kIncrementalSync}, {"save", {{"includeText", false}}}}},
            {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
            {"hoverProvider", true},
            {"completionProvider", {{"triggerCharacters", {"@", ":", "<", "/"}}}},
            {"definitionProvider", true},
            {"documentSymbolProvider", true},
            {"documentFormattingProvider", true},
            {"semanticTokensProvider",
             {{"legend", {{"tokenTypes", result.legend.types}, {"tokenModifiers", result.legend.modifiers}}},
              {"full", true},
              {"range", true}}}}},
          {"serverInfo", {{"name", result.name}, {"version", result.version}}}};
}

std::string result_text(const json& value) { return dump(value); }

std::string result_text(const std::optional<Hover>& hover) { return hover ? dump(to_json(*hover)) : "null"; }

std::string result_text(const std::optional<std::vector<Location>>& locations) {
  return locations ? array_text(*locations) : "null";
}

std::string result_text(const std::vector<CompletionItem>& items) { return array_text(items); }
std::string result_text(const std::vector<DocumentSymbol>& symbols) { return array_text(symbols); }
std::string result_text(const std::vector<TextEdit>& edits) { return array_text(edits); }
std::string result_text(const std::vector<CodeAction>& actions) { return array_text(actions); }

std::string result_text(const std::optional<SemanticTokens>& tokens) {
  if (!tokens) return "null";
  constexpr std::string_view open = "{\"data\":[";
  constexpr std::string_view close = "]}";
  // Room for every number at its widest, and a comma after each; cut to
  // size at the end.
  std::string out(open.size() + tokens->data.size() * 11 + close.size(), '\0');
  char* at = std::copy(open.begin(), open.end(), out.data());
  char* const end = out.data() + out.size();
  for (std::size_t i = 0; i < tokens->data.size(); ++i) {
    if (i != 0) *at++ = ',';
    at = std::to_chars(at, end, tokens->data[i]).ptr;
  }
  at = std::copy(close.begin(), close.end(), at);
  out.resize(static_cast<std::size_t>(at - out.data()));
  return out;
}

std::string response_text(const json& id, std::string_view result) {
  std::string out = "{\"id\":";
  out += dump(id);
  out += ",\"jsonrpc\":\"2.0\",\"result\":";
  out += result;
  out += '}';
  return out;
}

std::string error_text(const json& id, const ResponseError& error) {
  return dump({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", error.code}, {"message", error.message}}}});
}

std::string publish_diagnostics_text(const PublishDiagnosticsParams& params) {
  std::string body = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
  bool first = true;
  const auto add = [&](const Diagnostic& diagnostic) {
    if (!first) body += ',';
    first = false;
    append_diagnostic(body, diagnostic);
  };
  for (const std::vector<Diagnostic>* diagnostics : {params.errors, params.warnings}) {
    if (diagnostics == nullptr) continue;
    for (const Diagnostic& diagnostic : *diagnostics) add(diagnostic);
  }
  body += R"(],"uri":)";
  append_string(body, params.uri);
  if (params.version) {
    body += R"(,"version":)";
    body += std::to_string(*params.version);
  }
  body += "}}";
  return body;
}

InitializeParams read_initialize(const json& params) {
  InitializeParams out;
  if (params.contains("capabilities")) {
    const json& capabilities = params["capabilities"];
    if (capabilities.is_object() && capabilities.contains("general") && capabilities["general"].is_object() &&
        capabilities["general"].contains("positionEncodings") &&
        capabilities["general"]["positionEncodings"].is_array()) {
      for (const json& offered : capabilities["general"]["positionEncodings"]) {
        if (offered.is_string()) out.position_encodings.push_back(offered.get<std::string>());
      }
    }
  }
  if (params.contains("workspaceFolders") && params["workspaceFolders"].is_array() &&
      !params["workspaceFolders"].empty()) {
    out.workspace_folder = string_at(params["workspaceFolders"][0], "uri");
  }
  out.root_uri = string_at(params, "rootUri");
  out.root_path = string_at(params, "rootPath");
  return out;
}

std::string read_document_uri(const json& params) { return params.at("textDocument").at("uri").get<std::string>(); }

TextDocumentItem read_did_open(const json& params) {
  const json& item = params.at("textDocument");
  TextDocumentItem out;
  out.uri = item.at("uri").get<std::string>();
  out.text = item.at("text").get<std::string>();
  out.version = read_version(item);
  return out;
}

DidChangeParams read_did_change(const json& params) {
  const json& item = params.at("textDocument");
  DidChangeParams out;
  out.uri = item.at("uri").get<std::string>();
  for (const json& change : params.at("contentChanges")) {
    ContentChange& read = out.changes.emplace_back();
    read.text = change.at("text").get<std::string>();
    if (change.contains("range")) read.range = read_range(change["range"]);
  }
  out.version = read_version(item);
  return out;
}

DidSaveParams read_did_save(const json& params) {
  DidSaveParams out;
  out.uri = read_document_uri(params);
  if (params.contains("text")) out.text = params["text"].get<std::string>();
  return out;
}

PositionParams read_position_params(const json& params) {
  return PositionParams{read_document_uri(params), read_position(params.at("position"))};
}

RangeParams read_range_params(const json& params) {
  return RangeParams{read_document_uri(params), read_range(params.at("range"))};
}

}  // namespace vyrl::cli::lsp
