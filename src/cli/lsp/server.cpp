#include "lsp/server.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "lsp/navigate.hpp"
#include "lsp/scope.hpp"
#include "lsp/transport.hpp"
#include "lsp/uri.hpp"
#include "vyrl/version.hpp"

namespace vyrl::cli::lsp {
namespace {

using json = nlohmann::json;

// JSON-RPC's own error codes, and the protocol's.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;

constexpr std::string_view kNotJson = "the message is not JSON";
constexpr std::string_view kTooDeep = "the message nests deeper than any request of the protocol";
constexpr std::string_view kNotARequest = "the message is neither a request nor a notification";
constexpr std::string_view kNotInitialized = "the server has not been initialized";
constexpr std::string_view kAlreadyInitialized = "the server is already initialized";
constexpr std::string_view kShutDown = "the server is shutting down";
constexpr std::string_view kOutOfMemory = "out of memory";

// No message of the protocol nests nearly this deep. Each level held costs
// far more than the byte that opened it, so a body of brackets alone could
// otherwise take gigabytes to parse.
constexpr std::size_t kMaxNesting = 128;

bool nests_too_deep(std::string_view body) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

// TextDocumentSyncKind.Incremental and DiagnosticSeverity's Error and Warning.
constexpr int kIncrementalSync = 2;
constexpr int kErrorSeverity = 1;
constexpr int kWarningSeverity = 2;

std::string unknown_method(std::string_view method) { return "unknown method '" + std::string(method) + "'"; }
std::string bad_params(std::string_view method, std::string_view why) {
  return "invalid params for '" + std::string(method) + "': " + std::string(why);
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

json to_json(Position position) { return {{"line", position.line}, {"character", position.character}}; }
json to_json(const Range& range) { return {{"start", to_json(range.start)}, {"end", to_json(range.end)}}; }

// A diagnostic is written out as JSON text directly: a document may have a
// warning on every line, and a tree of JSON values for each would cost
// several times what its text does. Keys come sorted, as json's objects keep
// them.
void append_string(std::string& out, std::string_view text) {
  // Paths from the client may hold any bytes; what goes out stays JSON.
  out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

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

json to_json(const Diagnostic& diagnostic) {
  std::string text;
  append_diagnostic(text, diagnostic);
  return json::parse(text);
}

// By lines: editors ask for the actions at the cursor, which need not stand
// inside the few columns a diagnostic covers.
bool share_a_line(const Range& a, const Range& b) { return a.start.line <= b.end.line && b.start.line <= a.end.line; }

std::string document_path(const std::string& uri) {
  if (auto path = path_from_uri(uri)) return std::filesystem::path(*path).lexically_normal().native();
  return uri;
}

}  // namespace

Server::Server(Send send, Log log, Settings settings)
    : send_(std::move(send)), log_(std::move(log)), settings_(settings) {
  std::error_code ignored;
  root_ = std::filesystem::current_path(ignored);
}

void Server::send(const json& message) {
  // Paths from the client may hold any bytes; what goes out stays JSON.
  send_(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

void Server::respond_error(const json& id, int code, std::string_view text) {
  send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", std::string(text)}}}});
}

void Server::handle(std::string_view body) {
  if (nests_too_deep(body)) {
    log_(kTooDeep);
    respond_error(nullptr, kInvalidRequest, kTooDeep);
    return;
  }
  json message = json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    log_(kNotJson);
    respond_error(nullptr, kParseError, kNotJson);
    return;
  }
  try {
    dispatch(message);
  } catch (const std::bad_alloc&) {
    log_(kOutOfMemory);
    if (message.is_object() && message.contains("id") && message.contains("method")) {
      respond_error(message["id"], kInternalError, kOutOfMemory);
    }
  }
}

void Server::dispatch(const json& message) {
  const bool has_method = message.is_object() && message.contains("method") && message["method"].is_string();
  if (!has_method) {
    // A response to a request of ours would land here; the server sends none.
    if (message.is_object() && message.contains("id") && (message.contains("result") || message.contains("error"))) {
      return;
    }
    log_(kNotARequest);
    respond_error(nullptr, kInvalidRequest, kNotARequest);
    return;
  }
  const std::string& method = message["method"].get_ref<const std::string&>();
  static const json kNoParams = json::object();
  const json& params = message.contains("params") ? message["params"] : kNoParams;
  if (!message.contains("id")) {
    try {
      notice(method, params);
    } catch (const json::exception& error) {
      log_(bad_params(method, error.what()));
    }
    return;
  }
  const json& id = message["id"];
  if (!id.is_number_integer() && !id.is_number_unsigned() && !id.is_string()) {
    log_(kNotARequest);
    respond_error(nullptr, kInvalidRequest, kNotARequest);
    return;
  }
  try {
    answer(method, id, params);
  } catch (const json::exception& error) {
    log_(bad_params(method, error.what()));
    respond_error(id, kInvalidParams, bad_params(method, error.what()));
  }
}

void Server::answer(const std::string& method, const json& id, const json& params) {
  const auto result = [&](json value) { send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(value)}}); };
  if (method == "initialize") {
    if (initialized_) return respond_error(id, kInvalidRequest, kAlreadyInitialized);
    return result(initialize(params));
  }
  if (!initialized_) return respond_error(id, kServerNotInitialized, kNotInitialized);
  if (shut_down_) return respond_error(id, kInvalidRequest, kShutDown);
  if (method == "shutdown") {
    shut_down_ = true;
    return result(nullptr);
  }
  if (method == "textDocument/codeAction") return result(code_actions(params));
  if (method == "textDocument/hover" || method == "textDocument/definition" || method == "textDocument/completion" ||
      method == "textDocument/documentSymbol" || method == "textDocument/formatting") {
    const auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
    if (found == documents_.end()) return result(nullptr);
    const OpenText& text = found->second.open;
    const Workspace workspace{root_, encoding_, settings_.read_disk,
                              [this](std::string_view path) { return find_open(path); }};
    if (method == "textDocument/hover") return result(hover(text, read_position(params.at("position")), workspace));
    if (method == "textDocument/definition") {
      return result(definition(text, read_position(params.at("position")), workspace));
    }
    if (method == "textDocument/completion") {
      return result(completion(text, read_position(params.at("position")), workspace));
    }
    if (method == "textDocument/documentSymbol") return result(document_symbols(text, workspace));
    return result(formatting(text, workspace));
  }
  respond_error(id, kMethodNotFound, unknown_method(method));
}

void Server::notice(const std::string& method, const json& params) {
  if (method == "exit") {
    exit_status_ = shut_down_ ? 0 : 1;
    return;
  }
  // Before initialize, the protocol has notifications dropped; so does an
  // editor that keeps typing while the server shuts down.
  if (!initialized_ || shut_down_) return;
  if (method == "textDocument/didOpen") return open(params);
  if (method == "textDocument/didChange") return change(params);
  if (method == "textDocument/didSave") {
    const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
    const auto found = documents_.find(uri);
    if (found == documents_.end()) return;
    if (params.contains("text")) found->second.open.text = params["text"].get<std::string>();
    return refresh(uri);
  }
  if (method == "textDocument/didClose") return close(params);
  // "initialized", "$/cancelRequest" (every request is answered before the
  // next message is read, so there is never one to cancel), "$/setTrace" and
  // anything unknown need nothing.
}

json Server::initialize(const json& params) {
  encoding_ = Encoding::utf16;
  if (params.contains("capabilities")) {
    const json& capabilities = params["capabilities"];
    if (capabilities.is_object() && capabilities.contains("general") && capabilities["general"].is_object() &&
        capabilities["general"].contains("positionEncodings") &&
        capabilities["general"]["positionEncodings"].is_array()) {
      for (const json& offered : capabilities["general"]["positionEncodings"]) {
        if (offered == "utf-8") encoding_ = Encoding::utf8;
      }
    }
  }
  // Paths in @import and @derive lines start where `vyrl` is run from: the
  // project's root, which is the first workspace folder.
  std::optional<std::string> root;
  if (params.contains("workspaceFolders") && params["workspaceFolders"].is_array() &&
      !params["workspaceFolders"].empty() && params["workspaceFolders"][0].is_object() &&
      params["workspaceFolders"][0].contains("uri") && params["workspaceFolders"][0]["uri"].is_string()) {
    root = path_from_uri(params["workspaceFolders"][0]["uri"].get<std::string>());
  }
  if (!root && params.contains("rootUri") && params["rootUri"].is_string()) {
    root = path_from_uri(params["rootUri"].get<std::string>());
  }
  if (!root && params.contains("rootPath") && params["rootPath"].is_string()) root = params["rootPath"].get<std::string>();
  if (root) root_ = std::filesystem::path(*root).lexically_normal();
  initialized_ = true;
  log_("workspace root " + root_.native() + ", positions in " + (encoding_ == Encoding::utf8 ? "utf-8" : "utf-16"));

  return {{"capabilities",
           {{"positionEncoding", encoding_ == Encoding::utf8 ? "utf-8" : "utf-16"},
            {"textDocumentSync",
             {{"openClose", true}, {"change", kIncrementalSync}, {"save", {{"includeText", false}}}}},
            {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
            {"hoverProvider", true},
            {"completionProvider", {{"triggerCharacters", {"@", ":", "<", "/"}}}},
            {"definitionProvider", true},
            {"documentSymbolProvider", true},
            {"documentFormattingProvider", true}}},
          {"serverInfo", {{"name", "vyrl"}, {"version", VYRL_VERSION}}}};
}

void Server::open(const json& params) {
  const json& item = params.at("textDocument");
  std::string uri = item.at("uri").get<std::string>();
  Document document;
  document.open = OpenText{uri, document_path(uri), item.at("text").get<std::string>(), nullptr};
  if (item.contains("version") && item["version"].is_number_integer()) document.version = item["version"].get<long long>();
  documents_.insert_or_assign(uri, std::move(document));
  refresh(uri);
}

void Server::change(const json& params) {
  const json& item = params.at("textDocument");
  const std::string& uri = item.at("uri").get_ref<const std::string&>();
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return log_("a change to a document that is not open: " + uri);
  // Applied to a copy, so that a malformed change leaves the text as it was.
  std::string text = found->second.open.text;
  for (const json& change : params.at("contentChanges")) {
    const std::string& replacement = change.at("text").get_ref<const std::string&>();
    if (change.contains("range")) {
      const json& range = change["range"];
      replace_range(text, read_position(range.at("start")), read_position(range.at("end")), replacement, encoding_);
    } else {
      text = replacement;
    }
  }
  found->second.open.text = std::move(text);
  if (item.contains("version") && item["version"].is_number_integer()) {
    found->second.version = item["version"].get<long long>();
  }
  refresh(uri);
}

void Server::close(const json& params) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return;
  const std::string path = found->second.open.path;
  documents_.erase(found);
  // Its problems are the editor's to show only while it is open.
  send({{"jsonrpc", "2.0"},
        {"method", "textDocument/publishDiagnostics"},
        {"params", {{"uri", uri}, {"diagnostics", json::array()}}}});
  refresh(uri, path);
}

const OpenText* Server::find_open(std::string_view path) const {
  for (const auto& [uri, document] : documents_) {
    if (document.open.path == path) return &document.open;
  }
  return nullptr;
}

void Server::refresh(const std::string& changed_uri, std::string_view changed_path) {
  std::string path(changed_path);
  if (const auto found = documents_.find(changed_uri); found != documents_.end()) {
    path = found->second.open.path;
    publish(found->second);
  }
  // Only the documents that read the changed file: with many large files
  // open, checking them all would cost each keystroke many times over.
  for (auto& [uri, document] : documents_) {
    if (uri == changed_uri) continue;
    const Scope* checked = document.open.checked.get();
    if (checked == nullptr || checked->reads(path)) publish(document);
  }
}

void Server::publish(Document& document) {
  const Workspace workspace{root_, encoding_, settings_.read_disk,
                            [this](std::string_view path) { return find_open(path); }};
  // The last model goes only once the diagnostics are out: freeing a large
  // one takes a good part of a check, and the editor need not wait for it.
  const std::shared_ptr<const Scope> previous = std::move(document.open.checked);
  auto checked = std::make_shared<const Scope>(document.open, workspace);
  document.errors = diagnose(*checked);
  document.open.checked = std::move(checked);
  const std::vector<Diagnostic> warnings = warnings_of(document.open, encoding_, document.errors);
  std::string body = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
  bool first = true;
  for (const std::vector<Diagnostic>* diagnostics : {&std::as_const(document.errors), &warnings}) {
    for (const Diagnostic& diagnostic : *diagnostics) {
      if (!first) body += ',';
      first = false;
      append_diagnostic(body, diagnostic);
    }
  }
  body += R"(],"uri":)";
  append_string(body, document.open.uri);
  body += R"(,"version":)";
  body += std::to_string(document.version);
  body += "}}";
  send_(std::move(body));
}

json Server::code_actions(const json& params) const {
  json actions = json::array();
  const auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
  if (found == documents_.end()) return actions;
  const json& range = params.at("range");
  const Range asked{read_position(range.at("start")), read_position(range.at("end"))};
  // Warnings come from the text alone, so they are found again rather than
  // kept: they cannot have changed since they were published.
  std::vector<Diagnostic> diagnostics = found->second.errors;
  std::vector<Diagnostic> warnings = warnings_of(found->second.open, encoding_, diagnostics);
  for (Diagnostic& warning : warnings) diagnostics.push_back(std::move(warning));
  for (const Diagnostic& diagnostic : diagnostics) {
    if (!diagnostic.fix || !share_a_line(diagnostic.range, asked)) continue;
    const NameFix& fix = *diagnostic.fix;
    for (std::size_t i = 0; i < fix.names.size(); ++i) {
      json edit = {{"range", to_json(fix.range)}, {"newText", fix.names[i]}};
      actions.push_back({{"title", i < fix.titles.size() ? fix.titles[i] : "Change to '" + fix.names[i] + "'"},
                         {"kind", "quickfix"},
                         {"diagnostics", {to_json(diagnostic)}},
                         {"isPreferred", i == 0},
                         {"edit", {{"changes", {{fix.uri, {std::move(edit)}}}}}}});
    }
  }
  return actions;
}

int serve_stdio() {
  // A client that goes away mid-answer must end the server with an error,
  // not a signal.
  ::signal(SIGPIPE, SIG_IGN);
  bool output_failed = false;
  const auto log = [](std::string_view line) {
    std::fprintf(stderr, "vyrl lsp: %.*s\n", static_cast<int>(line.size()), line.data());
  };
  Server server(
      [&](std::string body) {
        const std::string framed = frame_message(body);
        if (std::fwrite(framed.data(), 1, framed.size(), stdout) != framed.size() || std::fflush(stdout) != 0) {
          output_failed = true;
        }
      },
      log, Server::Settings{});
  MessageReader reader;
  std::string chunk(64 * 1024, '\0');
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return server.status_at_end_of_input();
    reader.feed(std::string_view(chunk).substr(0, static_cast<std::size_t>(got)));
    while (auto event = reader.next()) {
      if (event->kind == MessageReader::Event::Kind::problem) {
        server.report(event->text);
        continue;
      }
      server.handle(event->text);
      if (output_failed) {
        log("cannot write to standard output");
        return 1;
      }
      if (const auto status = server.exit_status()) return *status;
    }
  }
}

}  // namespace vyrl::cli::lsp
