#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vyrl::cli::lsp {

// No message body may be larger: the same bound the library puts on a file,
// since a body carries at most a document and a little protocol around it.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{256} << 20;
// A header block that has not ended by then is not a header block.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

// Cuts the bytes a client sends into message bodies ("Content-Length: N",
// further headers, an empty line, N bytes). Bytes may arrive in pieces of any
// size. What cannot be a message is reported and dropped, and reading goes on
// at the next header, so that no input, however broken, stops the server or
// makes it hold more than one bounded message.
class MessageReader {
 public:
  struct Event {
    enum class Kind { message, problem };
    Kind kind;
    std::string text;  // the body, or what was wrong
  };

  void feed(std::string_view bytes);
  // The next body or problem, or nothing until more bytes arrive.
  std::optional<Event> next();

 private:
  std::optional<Event> read_header();

  std::string buffer_;
  std::size_t start_ = 0;               // bytes of buffer_ already taken
  std::optional<std::size_t> body_;     // the length of the body being read
};

// The bytes that carry `body` to the client.
std::string frame_message(std::string_view body);

}  // namespace vyrl::cli::lsp
