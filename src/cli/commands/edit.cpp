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
constexpr std::string_view kDeleteOrAppend = "options '--delete' and '--append' exclude each other";
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

// The lines of `text` that delete_key takes out for `key`, numbered from 1.
std::vector<std::pair<std::size_t, std::size_t>> deleted_lines(std::string_view text, std::string_view key) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;  // first line, count
  const SyntaxTree tree = read_syntax(text);
  for (const SyntaxLine& line : tree.statements()) {
    if (line.kind == SyntaxKind::assignment && tree.assignment(line).key.text == key) {
      ranges.emplace_back(line.first_line + 1, line.line_count);
    }
  }
  return ranges;
}

// An error of the text left after a deletion names its lines; the person
// reads the file on disk, whose lines run on past each one deleted.
void renumber_after_deletion(VyrlError& error, const std::vector<std::pair<std::size_t, std::size_t>>& deleted) {
  if (error.frames().empty() || error.frames().front().line == 0) return;
  std::size_t line = error.frames().front().line;
  for (const auto& [first, count] : deleted) {
    if (first <= line) line += count;
  }
  error.set_outer_line(line);
}

// Where the value that wins came from when it is not the one set: a file
// that a line after the edited one reads assigns the key again.
std::string overridden(std::string_view path, std::string_view key, std::string_view wins, std::string_view where) {
  return std::string(path) + ": cannot set '" + std::string(key) + "': the value that wins would be '" +
         std::string(wins) + "', set at " + std::string(where) + "; nothing was written (--append sets it at the end of " +
         std::string(path) + ", where it wins)\n";
}

// `text` with "key = value" as its last line, where no import can override it.
Result<std::string> appended(std::string_view text, std::string_view key, std::string_view value) {
  auto line = assignment_line(key, value);
  if (!line) return line;
  std::string result(text);
  if (!result.empty() && result.back() != '\n') result.push_back('\n');
  result += *line;
  result.push_back('\n');
  return result;
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
  if (remove && arguments.has("--append")) return usage_error(kDeleteOrAppend, "set");
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
  const std::string_view value = remove ? std::string_view() : arguments.positionals[2];
  auto edited = remove                       ? delete_key(edit->text, key, path)
                : arguments.has("--append") ? appended(edit->text, key, value)
                                             : set_value(edit->text, key, value, path);
  if (!edited) {
    report_about(path, std::move(edited.error()));
    return kFailure;
  }
  // A file that fmt --check accepts stays so: a value of another width must
  // not leave its line's comment out of the column of its neighbours'.
  if (const auto laid = format(edit->text, path); laid && *laid == edit->text) {
    if (auto again = format(*edited, path)) edited = std::move(again);
  }
  // The edited text must load as the file itself would, imports, schemas
  // and types included; otherwise the file keeps its bytes. The model says
  // which assignment wins, wherever it is.
  Model model;
  Options options = loading->options();
  options.model = &model;
  auto loaded = VYRL::parse_as(*edited, path, options);
  if (!loaded) {
    // A fault the file had already is the one to name, on its own lines.
    if (auto before = VYRL::parse_as(edit->text, path, loading->options()); !before) {
      report(before.error());
    } else {
      if (remove) renumber_after_deletion(loaded.error(), deleted_lines(edit->text, key));
      report(loaded.error());
    }
    return kFailure;
  }
  // Success means the value that wins is the one asked for.
  if (const Model::Key* wins = model.key(key); !remove && wins != nullptr && model.winner(*wins).value != value) {
    const Model::Assignment& winner = model.winner(*wins);
    write_err(overridden(display_name(path), key, winner.value, model.describe_with_route(winner.place)));
    return kFailure;
  }
  if (auto written = edit->file.replace(*edited); !written) {
    write_err(cannot_write(path, written.error()));
    return kFailure;
  }
  // What was written is read back as any reader will read it: a file it
  // imports may have changed since, and success must still mean VALUE wins.
  if (!remove) {
    const auto reread = VYRL::load(path, loading->options());
    if (const auto now = reread ? reread->get(key) : std::nullopt; now != value) {
      write_err(std::string(display_name(path)) + ": written, but '" + std::string(key) + "' now reads " +
                (now ? "'" + std::string(*now) + "'" : std::string("as no key")) + "\n");
      return kFailure;
    }
  }
  return kSuccess;
}

}  // namespace vyrl::cli
