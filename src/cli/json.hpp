#pragma once

#include <string>
#include <string_view>

namespace vyrl::cli {

// Appends `text` as a JSON string literal. The text is already valid UTF-8 (the
// loader refuses anything else), so only quotes, backslashes and control
// characters need escaping; everything else passes through byte for byte.
void append_json_string(std::string& out, std::string_view text);

}  // namespace vyrl::cli
