#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vyrl::cli {

// Appends `text` as a JSON string literal. Quotes, backslashes and control
// characters are escaped; UTF-8 passes through byte for byte. Documents are
// UTF-8 already (the loader refuses anything else), but paths come from the
// command line and the file system, which allow any bytes: each byte that is
// not part of a well-formed sequence becomes U+FFFD, so that the output stays
// JSON.
void append_json_string(std::string& out, std::string_view text);

// What the tool prints as JSON is built as one of these. Json keeps members
// in the order they were added, for records whose fields have an order of
// their own; SortedJson keeps them sorted by key, and finds a key in
// logarithmic time, for whole documents.
using Json = nlohmann::ordered_json;
using SortedJson = nlohmann::json;

// `value` as the tool lays JSON out, ending in a newline: on one line with ", "
// and ": " between items, or, `spread`, with each member of the outermost
// object or array on a line of its own, indented by two spaces. Strings are
// written by append_json_string.
std::string json_text(const Json& value, bool spread);
std::string json_text(const SortedJson& value, bool spread);

}  // namespace vyrl::cli
