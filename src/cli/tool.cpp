#include "tool.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace vyrl::cli {

std::string cannot_write(std::string_view path, std::string_view reason) {
  return "vyrl: cannot write " + std::string(path) + ": " + std::string(reason) + "\n";
}

void write_out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void write_err(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string_view display_name(std::string_view path) { return path == kStdinPath ? kStdinName : path; }

Result<std::string> ImportRoot::read(std::string_view path) {
  if (path.starts_with('/')) return read_file_from_disk(path, Options{});
  return read_file_from_disk(directory_ + "/" + std::string(path), Options{});
}

std::optional<Loading> Loading::from(const Arguments& arguments) {
  Loading loading;
  const auto root = arguments.value(kRootOption);
  if (!root) return loading;
  struct stat status;
  const int error = ::stat(std::string(*root).c_str(), &status) != 0 ? errno : S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
  if (error != 0) {
    report_about(*root, VyrlError::io(error));
    return std::nullopt;
  }
  loading.root_ = std::make_unique<ImportRoot>(std::string(*root));
  loading.options_.file_reader = loading.root_.get();
  return loading;
}

Result<VYRL> open_document(std::string_view path, const Options& options) {
  return path == kStdinPath ? VYRL::load_standard_input(options) : VYRL::load(path, options);
}

void report(const VyrlError& error) { write_err(compiler_report(error)); }

void report_about(std::string_view path, VyrlError error) {
  if (error.frames().empty()) {
    const Frame::Origin origin = path == kStdinPath ? Frame::Origin::text : Frame::Origin::file;
    error.add_outer_frame(Frame{std::string(display_name(path)), 0, origin});
  }
  report(error);
}

std::optional<VYRL> open_or_report(std::string_view path, const Options& options) {
  auto document = open_document(path, options);
  if (!document) {
    report(document.error());
    return std::nullopt;
  }
  return std::move(*document);
}

namespace {

bool is_hidden(const std::filesystem::path& path) { return path.filename().native().starts_with('.'); }

// Collects the "*.vyr" files below `directory`; false, once reported, when a
// directory cannot be read.
bool collect(const std::filesystem::path& directory, std::vector<std::string>& found) {
  namespace fs = std::filesystem;
  std::error_code error;
  bool complete = true;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (is_hidden(path)) continue;
    std::error_code ignored;
    if (it->is_directory(ignored)) {
      if (!it->is_symlink(ignored)) complete = collect(path, found) && complete;
    } else if (path.extension() == ".vyr" && it->is_regular_file(ignored)) {
      found.push_back(path.native());
    }
  }
  if (error) {
    report_about(directory.native(), VyrlError::io(error.value()));
    return false;
  }
  return complete;
}

}  // namespace

FileList expand_directories(const std::vector<std::string_view>& arguments) {
  FileList list;
  for (const std::string_view argument : arguments) {
    std::error_code error;
    if (argument == kStdinPath || !std::filesystem::is_directory(argument, error)) {
      list.paths.emplace_back(argument);
      continue;
    }
    std::vector<std::string> found;
    if (!collect(std::filesystem::path(argument), found)) list.failed = true;
    std::sort(found.begin(), found.end());
    for (std::string& path : found) list.paths.push_back(std::move(path));
  }
  return list;
}

std::vector<Entry> sorted_entries(const VYRL& document) {
  const Entries view = document.entries();
  std::vector<Entry> entries(view.begin(), view.end());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return entries;
}

}  // namespace vyrl::cli

namespace vyrl::cli {

std::optional<std::size_t> count_option(const Arguments& arguments, std::string_view option, std::size_t fallback,
                                        std::string_view command) {
  const auto given = arguments.value(option);
  if (!given) return fallback;
  std::size_t count = 0;
  const auto [end, error] = std::from_chars(given->data(), given->data() + given->size(), count);
  if (error != std::errc() || end != given->data() + given->size() || count == 0) {
    usage_error("option '" + std::string(option) + "' takes a whole number of at least 1, not '" +
                    std::string(*given) + "'",
                command);
    return std::nullopt;
  }
  return count;
}

}  // namespace vyrl::cli
