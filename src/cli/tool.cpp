#include "tool.hpp"

#include <algorithm>
#include <cstdio>
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

Result<VYRL> open_document(std::string_view path) {
  return path == kStdinPath ? VYRL::load_standard_input() : VYRL::load(path);
}

void report(const VyrlError& error) { write_err(compiler_report(error)); }

void report_about(std::string_view path, VyrlError error) {
  if (error.frames().empty()) {
    const Frame::Origin origin = path == kStdinPath ? Frame::Origin::text : Frame::Origin::file;
    error.add_outer_frame(Frame{std::string(display_name(path)), 0, origin});
  }
  report(error);
}

std::optional<VYRL> open_or_report(std::string_view path) {
  auto document = open_document(path);
  if (!document) {
    report(document.error());
    return std::nullopt;
  }
  return std::move(*document);
}

std::vector<Entry> sorted_entries(const VYRL& document) {
  const Entries view = document.entries();
  std::vector<Entry> entries(view.begin(), view.end());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return entries;
}

}  // namespace vyrl::cli
