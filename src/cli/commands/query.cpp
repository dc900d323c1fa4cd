// `vyrl get`, `keys` and `dump`: read values back from a file.
#include "commands.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

constexpr std::string_view kDeepOrFallback = "options '--deep' and '--fallback' exclude each other";
constexpr std::string_view kRawWithoutJson = "option '--raw' needs '--json'";

}  // namespace

int run_get(const Arguments& arguments) {
  const bool deep = arguments.has("--deep");
  const bool fallback = arguments.has("--fallback");
  if (deep && fallback) return usage_error(kDeepOrFallback, "get");
  const std::string_view path = arguments.positionals[0];
  const std::string_view key = arguments.positionals[1];
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  const auto document = open_or_report(path, loading->options());
  if (!document) return kFailure;
  std::optional<std::string> found;
  if (deep) {
    if (auto value = document->find_deep(key)) found = std::move(*value).text();
  } else if (fallback) {
    if (auto value = document->find_obj(key)) found = std::move(*value).text();
  } else if (const auto value = document->get(key)) {
    found.emplace(*value);
  }
  if (!found) {
    report_about(path, VyrlError::not_found(std::string(key)));
    return kFailure;
  }
  write_out(*found + "\n");
  return kSuccess;
}

int run_keys(const Arguments& arguments) {
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  const auto document = open_or_report(arguments.positionals[0], loading->options());
  if (!document) return kFailure;
  std::string out;
  for (const Entry& entry : sorted_entries(*document)) {
    out += entry.first;
    out += '\n';
  }
  write_out(out);
  return kSuccess;
}

namespace {

// Every pair as a line that reads back as itself, or nothing: a dump missing
// a pair would pass for the whole document.
std::optional<std::string> dump_as_lines(std::string_view path, const std::vector<Entry>& entries) {
  std::string out;
  bool complete = true;
  for (const auto& [key, value] : entries) {
    auto line = assignment_line(key, value);
    if (!line) {
      write_err(std::string(display_name(path)) + ": cannot dump the key '" + excerpt(key) +
                "': " + line.error().message() + "\n");
      complete = false;
      continue;
    }
    out += *line;
    out += '\n';
  }
  if (!complete) return std::nullopt;
  return out;
}

// Deeper than this, a list or object stays a string. Each level is a C++ call
// and reads again the text below it, and a hostile file can nest a value as
// deep as it is long: the bound keeps both the stack and the work in check.
constexpr std::size_t kMaxJsonDepth = 256;

// The text is taken by value and dropped before its items are visited, so a
// value nested n deep is held about once rather than n times over.
SortedJson json_value(std::string text, std::size_t depth) {
  if (depth >= kMaxJsonDepth) return SortedJson(std::move(text));
  std::optional<std::vector<std::string>> items;
  std::optional<std::map<std::string, std::string>> fields;
  {
    // A block, so that the text is freed here: assigning an empty one instead
    // would keep its buffer.
    FoundValue value(std::move(text));
    items = value.as_list();
    if (!items) fields = value.as_object();
    if (!items && !fields) return SortedJson(std::move(value).text());
  }
  if (items) {
    SortedJson array = SortedJson::array();
    for (std::string& item : *items) array.push_back(json_value(std::move(item), depth + 1));
    return array;
  }
  SortedJson object = SortedJson::object();
  for (auto& [key, field] : *fields) object[key] = json_value(std::move(field), depth + 1);  // a std::map: sorted by key
  return object;
}

// Lists and inline objects become arrays and objects, so that a script can
// reach a field without parsing the language; items and scalars stay strings,
// since only a schema says what type they are. Raw, every value stays the
// text it is stored as, the form scripts written before had.
std::string dump_as_json(const std::vector<Entry>& entries, bool raw) {
  SortedJson pairs = SortedJson::object();
  for (const auto& [key, value] : entries) {
    pairs[std::string(key)] = raw ? SortedJson(std::string(value)) : json_value(std::string(value), 0);
  }
  return json_text(pairs, true);
}

}  // namespace

int run_dump(const Arguments& arguments) {
  const bool json = arguments.has("--json");
  if (arguments.has("--raw") && !json) return usage_error(kRawWithoutJson, "dump");
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  const std::string_view path = arguments.positionals[0];
  const auto document = open_or_report(path, loading->options());
  if (!document) return kFailure;
  const auto entries = sorted_entries(*document);
  if (json) {
    write_out(dump_as_json(entries, arguments.has("--raw")));
    return kSuccess;
  }
  const auto lines = dump_as_lines(path, entries);
  if (!lines) return kFailure;
  write_out(*lines);
  return kSuccess;
}

}  // namespace vyrl::cli
