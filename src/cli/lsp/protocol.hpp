#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"

namespace vyrl::cli::lsp {

// The protocol's structures, as far as this server sends and reads them, and
// their JSON. Handlers build and take these; only protocol.cpp knows what a
// message looks like on the wire. Readers throw nlohmann::json::exception for
// params of the wrong shape, which the dispatcher answers as invalid params.

// JSON-RPC's own error codes, and the protocol's.
namespace error_code {
inline constexpr int parse_error = -32700;
inline constexpr int invalid_request = -32600;
inline constexpr int method_not_found = -32601;
inline constexpr int invalid_params = -32602;
inline constexpr int internal_error = -32603;
inline constexpr int server_not_initialized = -32002;
}  // namespace error_code

struct ResponseError {
  int code = error_code::internal_error;
  std::string message;
};

// --- What the server sends. ---

// CompletionItemKind values.
enum class CompletionKind { field = 5, unit = 11, keyword = 14, file = 17, structure = 22, type_parameter = 25 };
// SymbolKind values.
enum class SymbolKind { file = 1, property = 7, field = 8, structure = 23, type_parameter = 26 };

struct TextEdit {
  Range range;
  std::string new_text;
};

struct Hover {
  std::string markdown;
  Range range;
};

struct CompletionItem {
  std::string label;
  CompletionKind kind = CompletionKind::keyword;
  std::string detail;     // left out when empty
  std::string sort_text;  // left out when empty
  TextEdit text_edit;
};

struct DocumentSymbol {
  std::string name;
  std::optional<std::string> detail;  // an empty detail is still sent
  SymbolKind kind = SymbolKind::property;
  Range range;
  Range selection_range;
  std::optional<std::vector<DocumentSymbol>> children;
};

struct CodeAction {
  std::string title;
  std::vector<Diagnostic> diagnostics;
  bool preferred = false;
  std::map<std::string, std::vector<TextEdit>> changes;  // by URI
};

struct PublishDiagnosticsParams {
  std::string uri;
  std::optional<long long> version;
  // The check's errors, then the warnings; kept apart so that neither is
  // copied to be sent.
  const std::vector<Diagnostic>* errors = nullptr;
  const std::vector<Diagnostic>* warnings = nullptr;
};

// Token types and modifiers are the server's own (see tokens.hpp); the
// legend gives their names, in the order their numbers count.
struct SemanticTokensLegend {
  std::vector<std::string_view> types;
  std::vector<std::string_view> modifiers;
};

// Five numbers a token, each place relative to the token before it.
struct SemanticTokens {
  std::vector<std::uint32_t> data;
};

struct InitializeResult {
  Encoding encoding = Encoding::utf16;
  SemanticTokensLegend legend;
  std::string name;
  std::string version;
};

nlohmann::json to_json(Position position);
nlohmann::json to_json(const Range& range);
// As a definition's target: its URI and range, without the message.
nlohmann::json to_json(const Location& location);
nlohmann::json to_json(const Diagnostic& diagnostic);
nlohmann::json to_json(const TextEdit& edit);
nlohmann::json to_json(const Hover& hover);
nlohmann::json to_json(const CompletionItem& item);
nlohmann::json to_json(const DocumentSymbol& symbol);
nlohmann::json to_json(const CodeAction& action);
nlohmann::json to_json(const InitializeResult& result);

// Request results, written out as JSON text. A missing optional is null.
std::string result_text(const nlohmann::json& value);
std::string result_text(const std::optional<Hover>& hover);
std::string result_text(const std::optional<std::vector<Location>>& locations);
std::string result_text(const std::vector<CompletionItem>& items);
std::string result_text(const std::vector<DocumentSymbol>& symbols);
std::string result_text(const std::vector<TextEdit>& edits);
std::string result_text(const std::vector<CodeAction>& actions);
// Written directly: a large document has hundreds of thousands of numbers,
// which as a tree of JSON values would cost several times their text.
std::string result_text(const std::optional<SemanticTokens>& tokens);

// Whole messages. `id` is the request's, already checked to be a number or a
// string (or null when there was no request to answer).
std::string response_text(const nlohmann::json& id, std::string_view result);
std::string error_text(const nlohmann::json& id, const ResponseError& error);
// Written directly, as semantic tokens are: a document may have a warning on
// every line.
std::string publish_diagnostics_text(const PublishDiagnosticsParams& params);

// --- What the server reads. ---

struct InitializeParams {
  std::vector<std::string> position_encodings;  // offered by the client, in its order
  std::optional<std::string> workspace_folder;  // the first folder's URI
  std::optional<std::string> root_uri;
  std::optional<std::string> root_path;
};

struct TextDocumentItem {
  std::string uri;
  std::string text;
  std::optional<long long> version;
};

struct ContentChange {
  std::optional<Range> range;  // none: the whole text
  std::string text;
};

struct DidChangeParams {
  std::string uri;
  std::optional<long long> version;
  std::vector<ContentChange> changes;
};

struct DidSaveParams {
  std::string uri;
  std::optional<std::string> text;
};

struct PositionParams {
  std::string uri;
  Position position;
};

struct RangeParams {
  std::string uri;
  Range range;
};

// Lenient: what is missing or of another shape is left out, as clients
// differ in what they send.
InitializeParams read_initialize(const nlohmann::json& params);
// The document a request or notification is about.
std::string read_document_uri(const nlohmann::json& params);
TextDocumentItem read_did_open(const nlohmann::json& params);
DidChangeParams read_did_change(const nlohmann::json& params);
DidSaveParams read_did_save(const nlohmann::json& params);
PositionParams read_position_params(const nlohmann::json& params);
// Code actions and semantic tokens for a range.
RangeParams read_range_params(const nlohmann::json& params);

}  // namespace vyrl::cli::lsp
