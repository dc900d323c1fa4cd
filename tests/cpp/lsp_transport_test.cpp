#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lsp/transport.hpp"

namespace vyrl::cli::lsp {
namespace {

// Everything the reader makes of `input`, fed `piece` bytes at a time:
// bodies as they are, problems as "!" and the first word of their text.
std::vector<std::string> read_all(std::string_view input, std::size_t piece) {
  MessageReader reader;
  std::vector<std::string> events;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    reader.feed(input.substr(at, piece));
    while (auto event = reader.next()) {
      if (event->kind == MessageReader::Event::Kind::message) {
        events.push_back(event->text);
      } else {
        events.push_back(std::string("!").append(event->text.substr(0, event->text.find(' '))));  // not "!" + ...: g++ 12 warns falsely
      }
    }
  }
  return events;
}

TEST(LspTransportTest, BodiesArriveWholeHoweverTheBytesAreCut) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> events;
  };
  const std::string body = "{\"a\":\"é1\"}";  // eleven bytes, ten characters
  const std::string message = "Content-Length: 11\r\n\r\n" + body;
  const std::vector<Case> cases = {
      {"one message", message, {body}},
      {"two back to back", message + frame_message("[]"), {body, "[]"}},
      {"other headers, any case, bare line feeds",
       "Content-Type: application/vscode-jsonrpc\ncontent-LENGTH:   2 \n\n{}", {"{}"}},
      {"an empty body", "Content-Length: 0\r\n\r\n" + message, {"", body}},
      {"no length", "Content-Type: x\r\n\r\n" + message, {"!a", body}},
      {"a length that is no number", "Content-Length: 1x\r\n\r\n" + message, {"!Content-Length", body}},
      {"2^40 is refused, not waited for", "Content-Length: 1099511627776\r\n\r\n" + message,
       {"!Content-Length", body}},
      {"a length past 64 bits", "Content-Length: 99999999999999999999999\r\n\r\n" + message,
       {"!Content-Length", body}},
      {"the rest of a longer body before the next header", "Content-Length: 2\r\n\r\n{}}}" + message,
       {"{}", "!skipped", body}},
      {"a body cut short waits for more", "Content-Length: 20\r\n\r\n{}", {}},
  };
  for (const Case& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(read_all(c.input, piece), c.events);
    }
  }
}

TEST(LspTransportTest, BytesWithoutAHeaderAreDroppedInBoundedSteps) {
  const std::string noise(kMaxHeaderBytes * 3, 'x');
  const std::vector<std::string> events = read_all(noise + frame_message("{}"), 1024);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front(), "!dropped");
  // The header after the noise is found though the noise ran into it.
  EXPECT_EQ(events.back(), "{}");
}

}  // namespace
}  // namespace vyrl::cli::lsp
