#include "lsp/uri.hpp"

namespace vyrl::cli::lsp {
namespace {

constexpr std::string_view kScheme = "file://";

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool needs_no_escape(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("-._~/").find(c) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> path_from_uri(std::string_view uri) {
  if (uri.size() < kScheme.size() || uri.substr(0, 5) != "file:" || uri.substr(0, kScheme.size()) != kScheme) {
    return std::nullopt;
  }
  std::string_view rest = uri.substr(kScheme.size());
  // "file:///x" has an empty authority; "file://localhost/x" names this machine.
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  rest = rest.substr(slash);
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path;
  path.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hex_digit(rest[i + 1]) >= 0 && hex_digit(rest[i + 2]) >= 0) {
      path += static_cast<char>(hex_digit(rest[i + 1]) * 16 + hex_digit(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

std::string uri_from_path(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri(kScheme);
  for (const char c : path) {
    if (needs_no_escape(c)) {
      uri += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

}  // namespace vyrl::cli::lsp
