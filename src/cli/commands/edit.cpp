// `vyrl fmt` and `set`: write files back, keeping every byte they do not change.
#include "commands.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diff.hpp"
#include "write.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

constexpr std::string_view kSetNeedsFile = "set edits a file in place, not standard input";
constexpr std::string_view kDeleteTakesNoValue = "option '--delete' takes FILE KEY, without a value";
constexpr std::string_view kWouldReformat = ": would be reformatted\n";

void report_read_failure(std::string_view path, int error_number) {
  VyrlError error = VyrlError::io(error_number);
  const Frame::Origin origin = path == kStdinPath ? Frame::Origin::text : Frame::Origin::file;
  error.add_outer_frame(Frame{std::string(display_name(path)), 0, origin});
  report(error);
}

// A file that is only read (by --check, --diff, or for standard input): its
// bytes, or the failure reported as check would.
std::optional<std::string> read_or_report(std::string_view path) {
  auto text = read_file(path);
  if (!text) {
    report_read_failure(path, text.error());
    return std::nullopt;
  }
  return std::move(*text);
}

struct Edit {
  EditedFile file;
  std::string text;
};

// A file to rewrite, locked against other writers before it is read, and its
// bytes; or the failure reported: a read's as check would, a refusal to write
// as "vyrl: cannot write PATH: REASON".
std::optional<Edit> lock_and_read(std::string_view path) {
  auto file = EditedFile::open(path);
  if (!file) {
    if (file.error().read_error != 0) {
      report_read_failure(path, file.error().read_error);
    } else {
      write_err(cannot_write(path, file.error().write_refusal));
    }
    return std::nullopt;
  }
  auto text = file->read();
  if (!text) {
    report_read_failure(path, text.error());
    return std::nullopt;
  }
  return Edit{std::move(*file), std::move(*text)};
}

}  // namespace

int run_fmt(const Arguments& arguments) {
  const bool check = arguments.has("--check");
  const bool diff = arguments.has("--diff");
  FileList files = expand_directories(arguments.positionals);
  if (arguments.positionals.empty()) files.paths.emplace_back(kStdinPath);
  int status = files.failed ? kFailure : kSuccess;
  for (const std::string& path : files.paths) {
    // A file to rewrite is locked before it is read, so that no other
    // writer's edit comes between the read and the write.
    std::optional<Edit> edit;
    std::optional<std::string> read;
    if (!check && !diff && path != kStdinPath) {
      edit = lock_and_read(path);
    } else {
      read = read_or_report(path);
    }
    const std::string* text = edit ? &edit->text : read ? &*read : nullptr;
    if (text == nullptr) {
      status = kFailure;
      continue;
    }
    const auto formatted = format(*text, display_name(path));
    if (!formatted) {
      report(formatted.error());
      status = kFailure;
      continue;
    }
    const bool changed = *formatted != *text;
    if (check || diff) {
      if (diff) write_out(unified_diff(display_name(path), *text, *formatted));
      if (check && changed) {
        if (!diff) write_out(std::string(display_name(path)) + std::string(kWouldReformat));
        status = kFailure;
      }
    } else if (path == kStdinPath) {
      write_out(*formatted);
    } else if (changed) {
      if (auto written = edit->file.replace(*formatted); !written) {
        write_err(cannot_write(path, written.error()));
        status = kFailure;
      }
    }
  }
  return status;
}

int run_set(const Arguments& arguments) {
  const bool remove = arguments.has("--delete");
  const std::size_t wanted = remove ? 2 : 3;
  if (arguments.positionals.size() != wanted) {
    return usage_error(remove && arguments.positionals.size() > wanted ? kDeleteTakesNoValue
                       : arguments.positionals.size() < wanted       ? kMissingArguments
                                                                     : kTooManyArguments,
                       "set");
  }
  const std::string_view path = arguments.positionals[0];
  if (path == kStdinPath) return usage_error(kSetNeedsFile, "set");
  const std::string_view key = arguments.positionals[1];
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  // Locked before it is read: the edit is made to what is there when it is
  // written, and two edits of one file both land.
  auto edit = lock_and_read(path);
  if (!edit) return kFailure;
  auto edited = remove ? delete_key(edit->text, key, path) : set_value(edit->text, key, arguments.positionals[2], path);
  if (!edited) {
    report_about(path, std::move(edited.error()));
    return kFailure;
  }
  // The edited text must load as the file itself would, imports, schemas
  // and types included; otherwise the file keeps its bytes.
  if (auto loaded = VYRL::parse_as(*edited, path, loading->options()); !loaded) {
    report(loaded.error());
    return kFailure;
  }
  if (auto written = edit->file.replace(*edited); !written) {
    write_err(cannot_write(path, written.error()));
    return kFailure;
  }
  return kSuccess;
}

}  // namespace vyrl::cli
