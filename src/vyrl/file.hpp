#pragma once

#include <string>
#include <string_view>

#include "error/error.hpp"

namespace vyrl {

// Reads a whole file as UTF-8 text. The path is used unchanged (relative to the
// working directory); a directory fails with the system's own EISDIR error.
Result<std::string> read_text_file(std::string_view path);

}  // namespace vyrl
