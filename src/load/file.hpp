#pragma once

#include <string>
#include <string_view>

#include "vyrl/error.hpp"
#include "vyrl/options.hpp"

namespace vyrl {

// Reads a whole file as UTF-8 text. The path is used unchanged (relative to the
// working directory); a directory fails with the system's own EISDIR error and
// anything longer than the limit (a regular file, a FIFO or a device alike)
// with EFBIG.
Result<std::string> read_text_file(std::string_view path, const Options& options);

// The same for everything on standard input.
Result<std::string> read_standard_input(const Options& options);

}  // namespace vyrl
