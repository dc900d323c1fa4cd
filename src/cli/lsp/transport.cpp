#include "lsp/transport.hpp"

#include <algorithm>
#include <charconv>

namespace vyrl::cli::lsp {
namespace {

constexpr std::string_view kLengthHeader = "content-length";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the last "Content-Length" starts in `block`, ignoring case: a header
// after stray bytes (the rest of a body sent longer than announced) is still
// found, and the message it opens still read.
std::size_t find_length_header(std::string_view block) {
  if (block.size() < kLengthHeader.size()) return std::string_view::npos;
  for (std::size_t i = block.size() - kLengthHeader.size() + 1; i-- > 0;) {
    if (std::equal(kLengthHeader.begin(), kLengthHeader.end(), block.begin() + static_cast<std::ptrdiff_t>(i),
                   [](char a, char b) { return a == lower(b); })) {
      return i;
    }
  }
  return std::string_view::npos;
}

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out;
  for (const char c : text.substr(0, kShown)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte >= 0x20 && byte < 0x7F ? c : '?';
  }
  return text.size() > kShown ? out + "..." : out;
}

}  // namespace

void MessageReader::feed(std::string_view bytes) {
  // Dropping what was taken before growing keeps the buffer within one
  // message and one read.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= buffer_.size() / 2)) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<MessageReader::Event> MessageReader::next() {
  if (!body_) return read_header();
  if (buffer_.size() - start_ < *body_) return std::nullopt;
  Event event{Event::Kind::message, buffer_.substr(start_, *body_)};
  start_ += *body_;
  body_.reset();
  return event;
}

std::optional<MessageReader::Event> MessageReader::read_header() {
  const std::string_view pending = std::string_view(buffer_).substr(start_);
  // Headers end at an empty line; a client that ends lines with "\n" alone
  // is understood too.
  std::size_t end = pending.find("\r\n\r\n");
  std::size_t separator = 4;
  if (const std::size_t bare = pending.find("\n\n"); bare < end) {
    end = bare;
    separator = 2;
  }
  if (end == std::string_view::npos) {
    if (pending.size() <= kMaxHeaderBytes) return std::nullopt;
    // Keep the last few bytes: they may be the start of the next header.
    const std::size_t dropped = pending.size() - kLengthHeader.size();
    start_ += dropped;
    return Event{Event::Kind::problem, "dropped " + std::to_string(dropped) + " bytes that held no header"};
  }
  const std::string_view block = pending.substr(0, end);
  start_ += end + separator;

  const std::size_t at = find_length_header(block);
  if (at == std::string_view::npos) {
    return Event{Event::Kind::problem, "a header without Content-Length: '" + shown(block) + "'"};
  }
  std::string_view rest = block.substr(at + kLengthHeader.size());
  rest = rest.substr(0, rest.find('\n'));
  const std::string_view value = rest.starts_with(':') ? trim(rest.substr(1)) : std::string_view{};
  std::size_t length = 0;
  const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  if (value.empty() || error != std::errc{} || stop != value.data() + value.size()) {
    if (error == std::errc::result_out_of_range) {
      return Event{Event::Kind::problem, "Content-Length '" + shown(value) + "' is too large; body skipped"};
    }
    return Event{Event::Kind::problem, "Content-Length '" + shown(value) + "' is not a number"};
  }
  if (length > kMaxBodyBytes) {
    // Not skipped byte by byte: a client that announces such a body has lost
    // count, and whatever it sends next may be the next real message.
    return Event{Event::Kind::problem, "Content-Length " + std::to_string(length) + " exceeds the limit of " +
                                           std::to_string(kMaxBodyBytes) + " bytes; body refused"};
  }
  body_ = length;
  if (at > 0 && block[at - 1] != '\n') {
    return Event{Event::Kind::problem, "skipped '" + shown(block.substr(0, at)) + "' before a header"};
  }
  return next();
}

std::string frame_message(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

}  // namespace vyrl::cli::lsp
