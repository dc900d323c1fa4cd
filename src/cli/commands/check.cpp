// `vyrl check`: loads each file and says what failed, and where.
#include "commands.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

const char* origin_name(Frame::Origin origin) {
  switch (origin) {
    case Frame::Origin::text: return "text";
    case Frame::Origin::file: return "file";
    case Frame::Origin::imported: return "imported";
    case Frame::Origin::derived: return "derived";
  }
  return "file";
}

// Line 0 means the file as a whole, which JSON says better with null.
Json json_line_number(std::size_t line) { return line == 0 ? Json(nullptr) : Json(line); }

// One line per failure, so that a script can read failures as they come and a
// truncated run still yields whole records.
std::string failure_as_json(std::string_view argument, const VyrlError& error) {
  const std::vector<Frame>& frames = error.frames();
  Json failure;
  failure["argument"] = std::string(argument);
  failure["file"] = frames.empty() ? Json(nullptr) : Json(excerpt(frames.back().source));
  failure["line"] = json_line_number(frames.empty() ? 0 : frames.back().line);
  failure["kind"] = error.kind_name();
  failure["message"] = error.message();
  Json chain = Json::array();
  for (const Frame& frame : frames) {
    Json link;
    link["file"] = excerpt(frame.source);
    link["line"] = json_line_number(frame.line);
    link["origin"] = origin_name(frame.origin);
    chain.push_back(std::move(link));
  }
  failure["chain"] = std::move(chain);
  failure["suggestions"] = suggest_type_names(error.unknown_type());
  return json_text(failure, false);
}

// Warnings go to standard error whatever else is printed, so that --json's
// lines stay one object each. Standard input has been read by the loader and
// is not read again. A misspelt type that made the file fail has been
// reported with its hint already.
std::size_t warn_about(std::string_view path, const VyrlError* failure) {
  if (path == kStdinPath) return 0;
  // Read again only what can be read again: a FIFO would wait for a second
  // writer, and a device or a pipe may not give the same bytes twice.
  std::error_code unknown;
  if (!std::filesystem::is_regular_file(std::filesystem::path(std::string(path)), unknown)) return 0;
  const auto text = read_file_from_disk(path, Options{});
  if (!text) return 0;
  std::string out;
  std::size_t count = 0;
  for (const Warning& warning : lint(*text)) {
    if (failure != nullptr && warning.kind == Warning::Kind::unknown_type &&
        warning.where.text == failure->unknown_type()) {
      continue;
    }
    ++count;
    out += std::string(path) + ":" + std::to_string(warning.where.line) + ": warning: " + warning.message + "\n";
  }
  if (!out.empty()) write_err(out);
  return count;
}

}  // namespace

int run_check(const Arguments& arguments) {
  const bool json = arguments.has("--json");
  const bool strict = arguments.has("--strict");
  int status = kSuccess;
  for (const std::string_view path : arguments.positionals) {
    const auto document = open_document(path);
    if (document) {
      if (!json) write_out(std::string(display_name(path)) + ": " + std::string(kPassed) + "\n");
    } else {
      if (json) {
        write_out(failure_as_json(path, document.error()));
      } else {
        report(document.error());
      }
      status = kFailure;
    }
    if (warn_about(path, document ? nullptr : &document.error()) > 0 && strict) status = kFailure;
  }
  return status;
}

}  // namespace vyrl::cli
