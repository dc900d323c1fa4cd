#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vyrl::cli::lsp {

// The local path a "file:" URI names, percent-escapes decoded; nothing for
// any other scheme (an editor's unsaved "untitled:" buffer, say).
std::optional<std::string> path_from_uri(std::string_view uri);

// The "file:" URI of an absolute path.
std::string uri_from_path(std::string_view path);

}  // namespace vyrl::cli::lsp
