// `vyrl check`: loads each file and says what failed, and where.
#include "commands.hpp"

#include <cstddef>
#include <optional>
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
  // Only when there is one, so that a record without changes nothing for a
  // script that compares whole records.
  if (std::vector<std::string> hints = fix_hints(error); !hints.empty()) failure["hints"] = std::move(hints);
  return json_text(failure, false);
}

// The report every command gives, and below it how to fix the mistake: that
// is for check, which says what is wrong with a file, to tell.
void report_with_hints(const VyrlError& error) {
  std::string text = compiler_report(error);
  for (const std::string& hint : fix_hints(error)) text += "  " + hint + "\n";
  write_err(text);
}

// A file is read once, for loading and for its warnings alike: a FIFO or a
// pipe gives its bytes only once. Standard input is loaded as everywhere else
// and gets no warnings.
Result<VYRL> load_keeping_text(std::string_view path, std::optional<std::string>& text, const Options& options) {
  if (path == kStdinPath) return VYRL::load_standard_input(options);
  auto read = read_file_from_disk(path, Options{});
  if (!read) {
    read.error().add_outer_frame(Frame{std::string(path), 0, Frame::Origin::file});
    return fail(std::move(read.error()));
  }
  text = std::move(*read);
  return VYRL::parse_as(*text, path, options);
}

// Warnings go to standard error whatever else is printed, so that --json's
// lines stay one object each. A misspelt type that made the file fail has
// been reported with its hint already.
std::size_t warn_about(std::string_view path, std::string_view text, const VyrlError* failure) {
  std::string out;
  std::size_t count = 0;
  for (const Warning& warning : lint(text)) {
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
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  const FileList files = expand_directories(arguments.positionals);
  int status = files.failed ? kFailure : kSuccess;
  for (const std::string& path : files.paths) {
    std::optional<std::string> text;
    const auto document = load_keeping_text(path, text, loading->options());
    if (document) {
      if (!json) write_out(std::string(display_name(path)) + ": " + std::string(kPassed) + "\n");
    } else {
      if (json) {
        write_out(failure_as_json(path, document.error()));
      } else {
        report_with_hints(document.error());
      }
      status = kFailure;
    }
    if (text && warn_about(path, *text, document ? nullptr : &document.error()) > 0 && strict) status = kFailure;
  }
  return status;
}

}  // namespace vyrl::cli
