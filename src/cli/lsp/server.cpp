#include "lsp/server.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "lsp/navigate.hpp"
#include "lsp/scope.hpp"
#include "lsp/tokens.hpp"
#include "lsp/transport.hpp"
#include "lsp/uri.hpp"
#include "vyrl/version.hpp"

namespace vyrl::cli::lsp {
namespace {

using json = nlohmann::json;

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

std::string unknown_method(std::string_view method) { return "unknown method '" + std::string(method) + "'"; }
std::string bad_params(std::string_view method, std::string_view why) {
  return "invalid params for '" + std::string(method) + "': " + std::string(why);
}

// By lines: editors ask for the actions at the cursor, which need not stand
// inside the few columns a diagnostic covers.
bool share_a_line(const Range& a, const Range& b) { return a.start.line <= b.end.line && b.start.line <= a.end.line; }

std::string document_path(const std::string& uri) {
  if (auto path = path_from_uri(uri)) return std::filesystem::path(*path).lexically_normal().native();
  return uri;
}

}  // namespace

// Every method the server knows. Requests about one open document are looked
// up there first; anything not listed is answered MethodNotFound, or, for a
// notification, dropped.
const std::map<std::string_view, Server::RequestHandler, std::less<>> Server::kRequests = {
    {"initialize", {&Server::initialize, true}},
    {"shutdown", {&Server::shutdown}},
    {"textDocument/codeAction", {&Server::code_actions}},
};

const std::map<std::string_view, Server::DocumentHandler, std::less<>> Server::kDocumentRequests = {
    {"textDocument/hover", &Server::hover},
    {"textDocument/definition", &Server::definition},
    {"textDocument/completion", &Server::completion},
    {"textDocument/documentSymbol", &Server::document_symbols},
    {"textDocument/formatting", &Server::formatting},
    {"textDocument/semanticTokens/full", &Server::semantic_tokens},
    {"textDocument/semanticTokens/range", &Server::semantic_tokens_range},
};

// "initialized", "$/cancelRequest" (every request is answered before the
// next message is read, so there is never one to cancel), "$/setTrace" and
// anything unknown need nothing.
const std::map<std::string_view, Server::NotificationHandler, std::less<>> Server::kNotifications = {
    {"exit", {&Server::exit, true}},
    {"textDocument/didOpen", {&Server::open}},
    {"textDocument/didChange", {&Server::change}},
    {"textDocument/didSave", {&Server::save}},
    {"textDocument/didClose", {&Server::close}},
};

Server::Server(Send send, Log log, Settings settings)
    : send_(std::move(send)), log_(std::move(log)), settings_(settings) {
  std::error_code ignored;
  root_ = std::filesystem::current_path(ignored);
}

void Server::respond_error(const json& id, int code, std::string_view text) {
  send(error_text(id, ResponseError{code, std::string(text)}));
}

Workspace Server::workspace() const {
  return Workspace{root_, encoding_, settings_.read_disk, [this](std::string_view path) { return find_open(path); }};
}

void Server::handle(std::string_view body) {
  if (nests_too_deep(body)) {
    log_(kTooDeep);
    respond_error(nullptr, error_code::invalid_request, kTooDeep);
    return;
  }
  json message = json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    log_(kNotJson);
    respond_error(nullptr, error_code::parse_error, kNotJson);
    return;
  }
  try {
    dispatch(message);
  } catch (const std::bad_alloc&) {
    log_(kOutOfMemory);
    if (message.is_object() && message.contains("id") && message.contains("method")) {
      respond_error(message["id"], error_code::internal_error, kOutOfMemory);
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
    respond_error(nullptr, error_code::invalid_request, kNotARequest);
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
    respond_error(nullptr, error_code::invalid_request, kNotARequest);
    return;
  }
  try {
    answer(method, id, params);
  } catch (const json::exception& error) {
    log_(bad_params(method, error.what()));
    respond_error(id, error_code::invalid_params, bad_params(method, error.what()));
  }
}

void Server::answer(const std::string& method, const json& id, const json& params) {
  const auto request = kRequests.find(method);
  const bool early = request != kRequests.end() && request->second.before_initialize;
  if (!early && !initialized_) return respond_error(id, error_code::server_not_initialized, kNotInitialized);
  if (!early && shut_down_) return respond_error(id, error_code::invalid_request, kShutDown);
  if (request != kRequests.end()) {
    const Reply reply = (this->*request->second.answer)(params);
    if (!reply) return send(error_text(id, reply.error()));
    return send(response_text(id, *reply));
  }
  if (const auto about = kDocumentRequests.find(method); about != kDocumentRequests.end()) {
    const auto found = documents_.find(read_document_uri(params));
    if (found == documents_.end()) return send(response_text(id, "null"));
    return send(response_text(id, (this->*about->second)(found->second, params)));
  }
  respond_error(id, error_code::method_not_found, unknown_method(method));
}

void Server::notice(const std::string& method, const json& params) {
  const auto found = kNotifications.find(method);
  if (found == kNotifications.end()) return;
  // Before initialize, the protocol has notifications dropped; so does an
  // editor that keeps typing while the server shuts down.
  if (!found->second.always && (!initialized_ || shut_down_)) return;
  (this->*found->second.notice)(params);
}

Server::Reply Server::initialize(const json& params) {
  if (initialized_) return std::unexpected(ResponseError{error_code::invalid_request, std::string(kAlreadyInitialized)});
  const InitializeParams asked = read_initialize(params);
  encoding_ = Encoding::utf16;
  for (const std::string& offered : asked.position_encodings) {
    if (offered == "utf-8") encoding_ = Encoding::utf8;
  }
  // Paths in @import and @derive lines start where `vyrl` is run from: the
  // project's root, which is the first workspace folder.
  std::optional<std::string> root;
  if (asked.workspace_folder) root = path_from_uri(*asked.workspace_folder);
  if (!root && asked.root_uri) root = path_from_uri(*asked.root_uri);
  if (!root && asked.root_path) root = asked.root_path;
  if (root) root_ = std::filesystem::path(*root).lexically_normal();
  initialized_ = true;
  log_("workspace root " + root_.native() + ", positions in " + (encoding_ == Encoding::utf8 ? "utf-8" : "utf-16"));
  return result_text(to_json(InitializeResult{encoding_, token_legend(), "vyrl", VYRL_VERSION}));
}

Server::Reply Server::shutdown(const json&) {
  shut_down_ = true;
  return "null";
}

std::string Server::hover(const Document& document, const json& params) {
  const PositionParams asked = read_position_params(params);
  return result_text(lsp::hover(document.open, asked.position, workspace()));
}

std::string Server::definition(const Document& document, const json& params) {
  const PositionParams asked = read_position_params(params);
  return result_text(lsp::definition(document.open, asked.position, workspace()));
}

std::string Server::completion(const Document& document, const json& params) {
  const PositionParams asked = read_position_params(params);
  return result_text(lsp::completion(document.open, asked.position, workspace()));
}

std::string Server::document_symbols(const Document& document, const json&) {
  return result_text(lsp::document_symbols(document.open, workspace()));
}

std::string Server::formatting(const Document& document, const json&) {
  return result_text(lsp::formatting(document.open, workspace()));
}

std::string Server::semantic_tokens(const Document& document, const json&) {
  return result_text(std::optional(lsp::semantic_tokens(document.open, workspace(), std::nullopt)));
}

std::string Server::semantic_tokens_range(const Document& document, const json& params) {
  const RangeParams asked = read_range_params(params);
  return result_text(std::optional(lsp::semantic_tokens(document.open, workspace(), asked.range)));
}

void Server::exit(const json&) { exit_status_ = shut_down_ ? 0 : 1; }

void Server::open(const json& params) {
  TextDocumentItem item = read_did_open(params);
  Document document;
  const std::string uri = item.uri;
  document.open = OpenText{item.uri, document_path(item.uri), std::move(item.text), nullptr};
  if (item.version) document.version = *item.version;
  documents_.insert_or_assign(uri, std::move(document));
  refresh(uri);
}

void Server::change(const json& params) {
  const std::string uri = read_document_uri(params);
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return log_("a change to a document that is not open: " + uri);
  const DidChangeParams asked = read_did_change(params);
  // Applied to a copy, so that running out of memory halfway leaves the text
  // as it was; a malformed change has already been refused whole.
  std::string text = found->second.open.text;
  for (const ContentChange& change : asked.changes) {
    if (change.range) {
      replace_range(text, change.range->start, change.range->end, change.text, encoding_);
    } else {
      text = change.text;
    }
  }
  found->second.open.text = std::move(text);
  if (asked.version) found->second.version = *asked.version;
  refresh(uri);
}

void Server::save(const json& params) {
  const std::string uri = read_document_uri(params);
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return;
  DidSaveParams asked = read_did_save(params);
  if (asked.text) found->second.open.text = std::move(*asked.text);
  refresh(uri);
}

void Server::close(const json& params) {
  const std::string uri = read_document_uri(params);
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return;
  const std::string path = found->second.open.path;
  documents_.erase(found);
  // Its problems are the editor's to show only while it is open.
  send(publish_diagnostics_text(PublishDiagnosticsParams{uri, std::nullopt, nullptr, nullptr}));
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
  // The last model goes only once the diagnostics are out: freeing a large
  // one takes a good part of a check, and the editor need not wait for it.
  const std::shared_ptr<const Scope> previous = std::move(document.open.checked);
  auto checked = std::make_shared<const Scope>(document.open, workspace());
  document.errors = diagnose(*checked);
  document.open.checked = std::move(checked);
  const std::vector<Diagnostic> warnings = warnings_of(document.open, encoding_, document.errors);
  send(publish_diagnostics_text(
      PublishDiagnosticsParams{document.open.uri, document.version, &document.errors, &warnings}));
}

Server::Reply Server::code_actions(const json& params) {
  std::vector<CodeAction> actions;
  const auto found = documents_.find(read_document_uri(params));
  if (found == documents_.end()) return result_text(actions);
  const Range asked = read_range_params(params).range;
  // Warnings come from the text alone, so they are found again rather than
  // kept: they cannot have changed since they were published.
  std::vector<Diagnostic> diagnostics = found->second.errors;
  std::vector<Diagnostic> warnings = warnings_of(found->second.open, encoding_, diagnostics);
  for (Diagnostic& warning : warnings) diagnostics.push_back(std::move(warning));
  for (const Diagnostic& diagnostic : diagnostics) {
    if (!diagnostic.fix || !share_a_line(diagnostic.range, asked)) continue;
    const NameFix& fix = *diagnostic.fix;
    for (std::size_t i = 0; i < fix.names.size(); ++i) {
      CodeAction& action = actions.emplace_back();
      action.title = i < fix.titles.size() ? fix.titles[i] : "Change to '" + fix.names[i] + "'";
      action.diagnostics = {diagnostic};
      action.preferred = i == 0;
      action.changes[fix.uri] = {TextEdit{fix.range, fix.names[i]}};
    }
  }
  return result_text(actions);
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
