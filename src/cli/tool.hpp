#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "vyrl/vyrl.hpp"

// What every command of the tool shares: how it answers, how it opens a
// document, and how it reports a failure.
namespace vyrl::cli {

// Exit statuses as linters and schema validators use them, so that shell
// scripts and CI jobs can tell a bad file from a bad command line.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsageError = 2;

inline constexpr std::string_view kStdinPath = "-";
inline constexpr std::string_view kStdinName = "<stdin>";
inline constexpr std::string_view kPassed = "ok";
inline constexpr std::string_view kMissingArguments = "missing arguments";
inline constexpr std::string_view kTooManyArguments = "too many arguments";

std::string cannot_write(std::string_view path, std::string_view reason);

void write_out(std::string_view text);
// Flushes standard output first, so results and errors keep their order when
// both streams end up in one terminal or log.
void write_err(std::string_view text);

// "<stdin>" for "-", the path itself otherwise.
std::string_view display_name(std::string_view path);

inline constexpr std::string_view kRootOption = "--root";

// Reads the files that @import and @derive lines name from another directory
// than the working one, so that a project's files check from anywhere. An
// absolute path stays as it is, and errors still name the path as written.
class ImportRoot final : public FileReader {
 public:
  explicit ImportRoot(std::string directory) : directory_(std::move(directory)) {}
  Result<std::string> read(std::string_view path) override;

 private:
  std::string directory_;
};

// How a command loads files, as its command line asks.
class Loading {
 public:
  // Nothing, once reported, when --root names no directory: every import
  // would fail, each naming a path that looks fine.
  static std::optional<Loading> from(const Arguments& arguments);
  const Options& options() const noexcept { return options_; }

 private:
  std::unique_ptr<ImportRoot> root_;
  Options options_;
};

// Standard input gets the same treatment as a file: read whole, refused when
// it is not UTF-8, then merged into a fresh document.
Result<VYRL> open_document(std::string_view path, const Options& options = {});

// "path:line: message" for the line that failed, however deep in @import and
// @derive it was, then the files that led there: the shape editors and CI logs
// know how to pick up, and the one a person can follow back to their own file.
void report(const VyrlError& error);

// A failure found here rather than by the loader (a key that is not there)
// still names the file it was looked for in.
void report_about(std::string_view path, VyrlError error);

std::optional<VYRL> open_or_report(std::string_view path, const Options& options = {});

// The files that FILE arguments stand for: a directory stands for every
// "*.vyr" file below it, sorted, leaving out hidden files and directories
// and not following a symbolic link to a directory (a loop would never
// end). A directory that cannot be read is reported and sets `failed`.
struct FileList {
  std::vector<std::string> paths;
  bool failed = false;
};
FileList expand_directories(const std::vector<std::string_view>& arguments);

// The stored order is unspecified; sorting makes the output reproducible and
// diffable.
std::vector<Entry> sorted_entries(const VYRL& document);

// Prints "vyrl: PROBLEM" and the usage of `command`; returns kUsageError.
int usage_error(std::string_view problem, std::string_view command);
// The whole number of at least 1 that `option` was given, `fallback` when it
// was not; nothing, once a usage error of `command` is reported, for anything else.
std::optional<std::size_t> count_option(const Arguments& arguments, std::string_view option, std::size_t fallback,
                                        std::string_view command);

}  // namespace vyrl::cli
