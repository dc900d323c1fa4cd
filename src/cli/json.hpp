#pragma once

#include <string>
#include <string_view>

namespace vyrl::cli {

// Appends `text` as a JSON string literal. Quotes, backslashes and control
// characters are escaped; UTF-8 passes through byte for byte. Documents are
// UTF-8 already (the loader refuses anything else), but paths come from the
// command line and the file system, which allow any bytes: each byte that is
// not part of a well-formed sequence becomes U+FFFD, so that the output stays
// JSON.
void append_json_string(std::string& out, std::string_view text);

}  // namespace vyrl::cli
