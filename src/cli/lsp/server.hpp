#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"
#include "lsp/protocol.hpp"

namespace vyrl::cli::lsp {

// The language server's state and its answers to each message, apart from
// any real input and output: bodies come in through handle(), and go out
// through `send`, so that tests and the fuzzer drive it as stdio does.
class Server {
 public:
  using Send = std::function<void(std::string body)>;
  using Log = std::function<void(std::string_view line)>;

  struct Settings {
    bool read_disk = true;  // off: files not open in the editor do not exist
  };

  Server(Send send, Log log, Settings settings);

  // One message body, whatever it holds.
  void handle(std::string_view body);
  // Something wrong with the bytes around a message.
  void report(std::string_view problem) { log_(problem); }

  // Set once the client has sent "exit": 0 after "shutdown", 1 without.
  std::optional<int> exit_status() const { return exit_status_; }
  // How the server ends when its input does.
  int status_at_end_of_input() const { return shut_down_ ? 0 : 1; }

 private:
  struct Document {
    OpenText open;
    long long version = 0;
    std::vector<Diagnostic> errors;  // as last published
  };
  // A request's result as JSON text, or the error sent instead.
  using Reply = std::expected<std::string, ResponseError>;
  // What answers each method; see the tables in server.cpp.
  struct RequestHandler {
    Reply (Server::*answer)(const nlohmann::json& params);
    bool before_initialize = false;  // answered before "initialize" too
  };
  // For requests about one open document: asked of a document that is not
  // open, the result is null.
  using DocumentHandler = std::string (Server::*)(const Document& document, const nlohmann::json& params);
  struct NotificationHandler {
    void (Server::*notice)(const nlohmann::json& params);
    bool always = false;  // before "initialize" and after "shutdown" too
  };

  void dispatch(const nlohmann::json& message);
  void answer(const std::string& method, const nlohmann::json& id, const nlohmann::json& params);
  void notice(const std::string& method, const nlohmann::json& params);
  void send(std::string body) { send_(std::move(body)); }
  void respond_error(const nlohmann::json& id, int code, std::string_view text);
  Workspace workspace() const;

  Reply initialize(const nlohmann::json& params);
  Reply shutdown(const nlohmann::json& params);
  Reply code_actions(const nlohmann::json& params);
  std::string hover(const Document& document, const nlohmann::json& params);
  std::string definition(const Document& document, const nlohmann::json& params);
  std::string completion(const Document& document, const nlohmann::json& params);
  std::string document_symbols(const Document& document, const nlohmann::json& params);
  std::string formatting(const Document& document, const nlohmann::json& params);
  std::string semantic_tokens(const Document& document, const nlohmann::json& params);
  std::string semantic_tokens_range(const Document& document, const nlohmann::json& params);

  void exit(const nlohmann::json& params);
  void open(const nlohmann::json& params);
  void change(const nlohmann::json& params);
  void save(const nlohmann::json& params);
  void close(const nlohmann::json& params);
  // Checks the changed document again, and every open document whose last
  // check read the file it stands for: a change to one may fix or break
  // another that imports it. A document that is gone names its path.
  void refresh(const std::string& changed_uri, std::string_view changed_path = {});
  void publish(Document& document);
  const OpenText* find_open(std::string_view path) const;

  static const std::map<std::string_view, RequestHandler, std::less<>> kRequests;
  static const std::map<std::string_view, DocumentHandler, std::less<>> kDocumentRequests;
  static const std::map<std::string_view, NotificationHandler, std::less<>> kNotifications;

  Send send_;
  Log log_;
  Settings settings_;
  bool initialized_ = false;
  bool shut_down_ = false;
  std::optional<int> exit_status_;
  Encoding encoding_ = Encoding::utf16;
  std::filesystem::path root_;
  std::map<std::string, Document> documents_;  // by URI
};

// Runs the server on standard input and output until "exit" or the end of
// the input; returns the exit status.
int serve_stdio();

}  // namespace vyrl::cli::lsp
