// `vyrl check`: loads each file and says what failed, and where.
#include "commands.hpp"

#include <cstddef>
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

// The kind of a --json record for a file that loads but fails on its warnings.
constexpr std::string_view kWarningKind = "Warning";

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

Json warnings_as_json(const std::vector<Warning>& warnings) {
  Json list = Json::array();
  for (const Warning& warning : warnings) {
    Json entry;
    entry["line"] = warning.where.line;
    entry["message"] = warning.message;
    list.push_back(std::move(entry));
  }
  return list;
}

// One line per failure, so that a script can read failures as they come and a
// truncated run still yields whole records.
std::string failure_as_json(std::string_view argument, const VyrlError& error, const std::vector<Warning>& warnings) {
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
  if (!warnings.empty()) failure["warnings"] = warnings_as_json(warnings);
  return json_text(failure, false);
}

// The report every command gives, and below it how to fix the mistake: that
// is for check, which says what is wrong with a file, to tell.
void report_with_hints(const VyrlError& error) {
  std::string text = compiler_report(error);
  for (const std::string& hint : fix_hints(error)) text += "  " + hint + "\n";
  write_err(text);
}

constexpr std::string_view kMaxErrorsOption = "--max-errors";
// Enough for the mistakes of one sitting, few enough that one broken paste
// does not bury the first error a screen up.
constexpr std::size_t kDefaultMaxErrors = 20;

// A file is read once, for loading and for its warnings alike: a FIFO or a
// pipe gives its bytes only once. Standard input is loaded as everywhere else
// and gets no warnings. `options` records a model, whose errors are the file's.
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

// What check warns about in `text`, less what the failures said already: a
// misspelt type that made the file fail has been reported with its hint.
std::vector<Warning> warnings_of(std::string_view text, std::span<const VyrlError> failures) {
  std::vector<Warning> warnings = lint(text);
  std::erase_if(warnings, [&](const Warning& warning) {
    return warning.kind == Warning::Kind::unknown_type &&
           std::ranges::any_of(failures, [&](const VyrlError& failure) { return warning.where.text == failure.unknown_type(); });
  });
  return warnings;
}

// Said once after the errors of a file that had more than --max-errors:
// loading stopped there, so how many more there are is not known.
std::string stopped_after(std::string_view path, std::size_t count) {
  return std::string(display_name(path)) + ": stopped after " + std::to_string(count) + " error" +
         (count == 1 ? "" : "s") + " (see --max-errors)\n";
}

// A file that loads but fails on its warnings, under --strict: a record like
// a failure's, of the kind "Warning", for its first warning, with all of them.
std::string warnings_failure_as_json(std::string_view argument, const std::vector<Warning>& warnings) {
  const Warning& first = warnings.front();
  Json failure;
  failure["argument"] = std::string(argument);
  failure["file"] = std::string(display_name(argument));
  failure["line"] = first.where.line;
  failure["kind"] = kWarningKind;
  failure["message"] = first.message;
  Json link;
  link["file"] = std::string(display_name(argument));
  link["line"] = first.where.line;
  link["origin"] = origin_name(argument == kStdinPath ? Frame::Origin::text : Frame::Origin::file);
  failure["chain"] = Json::array({std::move(link)});
  failure["suggestions"] = first.kind == Warning::Kind::unknown_type ? first.replacements : std::vector<std::string>{};
  failure["warnings"] = warnings_as_json(warnings);
  return json_text(failure, false);
}

// Warnings go to standard error whatever else is printed, so that --json's
// lines stay one object each.
void warn_about(std::string_view path, const std::vector<Warning>& warnings) {
  std::string out;
  for (const Warning& warning : warnings) {
    out += std::string(path) + ":" + std::to_string(warning.where.line) + ": warning: " + warning.message + "\n";
  }
  if (!out.empty()) write_err(out);
}

}  // namespace

int run_check(const Arguments& arguments) {
  const bool json = arguments.has("--json");
  const bool strict = arguments.has("--strict");
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  const auto max_errors = count_option(arguments, kMaxErrorsOption, kDefaultMaxErrors, "check");
  if (!max_errors) return kUsageError;
  const FileList files = expand_directories(arguments.positionals);
  int status = files.failed ? kFailure : kSuccess;
  for (const std::string& path : files.paths) {
    std::optional<std::string> text;
    // Every error of the file at once: the model's first is the one a plain
    // load gives, and those after it are what a fix of it would leave.
    Model model(*max_errors);
    Options options = loading->options();
    options.model = &model;
    const auto document = load_keeping_text(path, text, options);
    // A file that could not be read at all failed before any load began.
    const std::span<const VyrlError> errors =
        !document && model.errors().empty() ? std::span(&document.error(), 1) : model.errors();
    const std::vector<Warning> warnings = text ? warnings_of(*text, errors) : std::vector<Warning>{};
    // Under --strict a warning fails the file, which is then never called ok.
    const bool fails_on_warnings = document && strict && !warnings.empty();
    if (document && !fails_on_warnings) {
      if (!json) write_out(std::string(display_name(path)) + ": " + std::string(kPassed) + "\n");
    } else if (json) {
      if (document) write_out(warnings_failure_as_json(path, warnings));
      // The file's warnings go with its first record, as with one error.
      for (std::size_t i = 0; i < errors.size(); ++i) {
        write_out(failure_as_json(path, errors[i], i == 0 ? warnings : std::vector<Warning>{}));
      }
    } else {
      for (const VyrlError& error : errors) report_with_hints(error);
    }
    if (model.errors_left_out() > 0) write_err(stopped_after(path, model.errors().size()));
    warn_about(path, warnings);
    if (!document || (strict && !warnings.empty())) status = kFailure;
  }
  return status;
}

}  // namespace vyrl::cli
