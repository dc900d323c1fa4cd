#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace vyrl::cli {

// The whole file at `path` (or standard input for "-") as bytes, or the errno
// of what failed.
std::expected<std::string, int> read_file(std::string_view path);

// Replaces the file at `path` with `content` so that a reader sees either the
// old bytes or the new ones, never a mix, and a crash leaves one of the two:
// a temporary file beside the target is written, flushed to disk and renamed
// over it. A symbolic link is followed and its target replaced; the target's
// mode is kept. On any failure the file is left as it was, no temporary file
// stays behind, and the reason comes back.
std::expected<void, std::string> replace_file(std::string_view path, std::string_view content);

}  // namespace vyrl::cli
