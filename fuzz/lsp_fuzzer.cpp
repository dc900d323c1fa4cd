// Feeds arbitrary bytes to the language server as a client's standard input
// would bring them: cut into pieces of varying size, framed or not, then
// dispatched. Every answer must be a framed JSON body, and the server must
// hold no more than one bounded message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lsp/server.hpp"
#include "lsp/transport.hpp"

namespace {

// Most inputs would otherwise never get past "not initialized"; an odd first
// byte starts them initialized, with a root where nothing exists.
constexpr std::string_view kInitialize =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":"file:///vyrl-fuzz-root",)"
    R"("capabilities":{"general":{"positionEncodings":["utf-16"]}}}})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  using namespace vyrl::cli::lsp;
  Server server(
      [](std::string body) {
        if (!nlohmann::json::accept(body)) std::abort();  // the server's own output must be JSON
      },
      [](std::string_view) {}, Server::Settings{.read_disk = false});
  if (data[0] & 1) server.handle(kInitialize);
  // The second byte sets the piece size, so that headers and bodies arrive
  // split at every point.
  const std::size_t piece = size > 1 ? data[1] % 64 + 1 : 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2 - (size < 2), size - 2 + (size < 2));
  MessageReader reader;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    reader.feed(bytes.substr(at, piece));
    while (auto event = reader.next()) {
      if (event->kind == MessageReader::Event::Kind::problem) {
        server.report(event->text);
      } else {
        server.handle(event->text);
      }
      if (server.exit_status()) return 0;
    }
  }
  return 0;
}
