// The `vyrl` command: loads, queries and checks VYRL files from the shell.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "diff.hpp"
#include "json.hpp"
#include "lsp/server.hpp"
#include "write.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

// Exit statuses as linters and schema validators use them, so that shell
// scripts and CI jobs can tell a bad file from a bad command line.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

constexpr std::string_view kStdinPath = "-";
constexpr std::string_view kStdinName = "<stdin>";
constexpr std::string_view kPassed = "ok";
constexpr std::string_view kMissingCommand = "missing command";
constexpr std::string_view kMissingArguments = "missing arguments";
constexpr std::string_view kTooManyArguments = "too many arguments";
constexpr std::string_view kDeepOrFallback = "options '--deep' and '--fallback' exclude each other";
constexpr std::string_view kRawWithoutJson = "option '--raw' needs '--json'";
constexpr std::string_view kTryHelp = "Try 'vyrl --help' for more information.\n";
constexpr std::string_view kOutOfMemory = "vyrl: out of memory\n";

constexpr std::string_view kSetNeedsFile = "set edits a file in place, not standard input";
constexpr std::string_view kDeleteTakesNoValue = "option '--delete' takes FILE KEY, without a value";
constexpr std::string_view kWouldReformat = ": would be reformatted\n";

std::string unknown_command(std::string_view word) { return "unknown command '" + std::string(word) + "'"; }
std::string cannot_write(std::string_view path, std::string_view reason) {
  return "vyrl: cannot write " + std::string(path) + ": " + std::string(reason) + "\n";
}
std::string write_failure(int error) { return std::string("vyrl: cannot write output: ") + std::strerror(error) + "\n"; }

void write_out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void write_err(std::string_view text) {
  // Flushing first keeps results and errors in order when both streams end up
  // in the same terminal or log.
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// --- Documents. ---

std::string_view display_name(std::string_view path) { return path == kStdinPath ? kStdinName : path; }

// Standard input gets the same treatment as a file: read whole, refused when
// it is not UTF-8, then merged into a fresh document.
Result<VYRL> open_document(std::string_view path) {
  return path == kStdinPath ? VYRL::load_standard_input() : VYRL::load(path);
}

// "path:line: message" for the line that failed, however deep in @import and
// @derive it was, then the files that led there: the shape editors and CI logs
// know how to pick up, and the one a person can follow back to their own file.
void report(const VyrlError& error) { write_err(compiler_report(error)); }

// A failure found here rather than by the loader (a key that is not there)
// still names the file it was looked for in.
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

// The stored order is unspecified; sorting makes the output reproducible and
// diffable.
std::vector<Entry> sorted_entries(const VYRL& document) {
  const Entries view = document.entries();
  std::vector<Entry> entries(view.begin(), view.end());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return entries;
}

// --- Commands. ---

struct CommandInfo;
const CommandInfo* find_command(std::string_view name);
int usage_error(std::string_view problem, const CommandInfo* command);

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

int run_get(const Arguments& arguments) {
  const bool deep = arguments.has("--deep");
  const bool fallback = arguments.has("--fallback");
  if (deep && fallback) return usage_error(kDeepOrFallback, find_command("get"));
  const std::string_view path = arguments.positionals[0];
  const std::string_view key = arguments.positionals[1];
  const auto document = open_or_report(path);
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
  const auto document = open_or_report(arguments.positionals[0]);
  if (!document) return kFailure;
  std::string out;
  for (const Entry& entry : sorted_entries(*document)) {
    out += entry.first;
    out += '\n';
  }
  write_out(out);
  return kSuccess;
}

std::string dump_as_text(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& entry : entries) {
    out += entry.first;
    out += entry.second.empty() ? " =" : " = ";
    out += entry.second;
    out += '\n';
  }
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

int run_dump(const Arguments& arguments) {
  const bool json = arguments.has("--json");
  if (arguments.has("--raw") && !json) return usage_error(kRawWithoutJson, find_command("dump"));
  const auto document = open_or_report(arguments.positionals[0]);
  if (!document) return kFailure;
  const auto entries = sorted_entries(*document);
  write_out(json ? dump_as_json(entries, arguments.has("--raw")) : dump_as_text(entries));
  return kSuccess;
}

int run_validate(const Arguments& arguments) {
  const std::string_view type_name = arguments.positionals[0];
  const std::string_view value = arguments.positionals[1];
  std::optional<VYRL> document;
  if (const auto path = arguments.value("--file")) {
    document = open_or_report(*path);
    if (!document) return kFailure;
  } else {
    document.emplace();
  }
  if (auto valid = document->validate_value(type_name, value); !valid) {
    // The check itself names no file or line, so this is the message and, for
    // a type name nothing knows, the names it was probably meant to be.
    report(valid.error());
    return kFailure;
  }
  write_out(std::string(kPassed) + "\n");
  return kSuccess;
}

void append_types_as_json(std::string& out, const std::vector<BuiltinType>& types) {
  Json list = Json::array();
  for (const BuiltinType& type : types) {
    Json entry;
    entry["name"] = type.name;
    entry["family"] = type.family;
    entry["aliases"] = type.aliases;
    list.push_back(std::move(entry));
  }
  out += json_text(list, true);
}

// Families as headings and names indented under them, so that the list reads
// well and `grep meter` still finds whole names.
void append_types_as_text(std::string& out, const std::vector<BuiltinType>& types) {
  std::string_view family;
  for (const BuiltinType& type : types) {
    if (type.family != family) {
      family = type.family;
      out += type.family + ":\n";
    }
    out += "  " + type.name;
    for (std::size_t j = 0; j < type.aliases.size(); ++j) {
      out += j == 0 ? " (also " : ", ";
      out += type.aliases[j];
    }
    out += type.aliases.empty() ? "\n" : ")\n";
  }
}

int run_types(const Arguments& arguments) {
  const std::vector<BuiltinType> types = builtin_types();
  std::string out;
  if (arguments.has("--json")) {
    append_types_as_json(out, types);
  } else {
    append_types_as_text(out, types);
  }
  write_out(out);
  return kSuccess;
}

// The editor starts it; "--stdio" is accepted because many clients pass it.
int run_lsp(const Arguments&) { return lsp::serve_stdio(); }

// A file read for editing: its bytes, or the failure reported as check would.
std::optional<std::string> read_or_report(std::string_view path) {
  auto text = read_file(path);
  if (!text) {
    VyrlError error = VyrlError::io(text.error());
    const Frame::Origin origin = path == kStdinPath ? Frame::Origin::text : Frame::Origin::file;
    error.add_outer_frame(Frame{std::string(display_name(path)), 0, origin});
    report(error);
    return std::nullopt;
  }
  return std::move(*text);
}

int run_fmt(const Arguments& arguments) {
  const bool check = arguments.has("--check");
  const bool diff = arguments.has("--diff");
  std::vector<std::string_view> paths = arguments.positionals;
  if (paths.empty()) paths.push_back(kStdinPath);
  int status = kSuccess;
  for (const std::string_view path : paths) {
    const auto text = read_or_report(path);
    if (!text) {
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
      if (auto written = replace_file(path, *formatted); !written) {
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
                       find_command("set"));
  }
  const std::string_view path = arguments.positionals[0];
  if (path == kStdinPath) return usage_error(kSetNeedsFile, find_command("set"));
  const std::string_view key = arguments.positionals[1];
  const auto text = read_or_report(path);
  if (!text) return kFailure;
  auto edited = remove ? delete_key(*text, key) : set_value(*text, key, arguments.positionals[2]);
  if (!edited) {
    report_about(path, std::move(edited.error()));
    return kFailure;
  }
  // The edited text must load as the file itself would, imports, schemas
  // and types included; otherwise the file keeps its bytes.
  if (auto loaded = VYRL::parse_as(*edited, path); !loaded) {
    report(loaded.error());
    return kFailure;
  }
  if (auto written = replace_file(path, *edited); !written) {
    write_err(cannot_write(path, written.error()));
    return kFailure;
  }
  return kSuccess;
}

// --- Dispatch. ---

constexpr std::size_t kAnyNumber = static_cast<std::size_t>(-1);

struct CommandInfo {
  std::string_view name;
  std::string_view synopsis;     // the arguments, as shown after "vyrl NAME"
  std::string_view description;  // indented help text, one or more lines
  std::size_t min_positionals;
  std::size_t max_positionals;
  OptionTable options;
  int (*run)(const Arguments&);
};

const std::vector<CommandInfo>& command_table() {
  static const std::vector<CommandInfo> commands{
      {"check", "[--json] FILE...",
       "    Load each file. Prints \"FILE: ok\" on standard output, or on standard\n"
       "    error the first error as \"PATH:LINE: message\" for the line that failed,\n"
       "    even inside an imported or derived file, then one \"  imported from\n"
       "    PATH:LINE\" or \"  derived from PATH:LINE\" line per file that led there,\n"
       "    innermost first, and \"  did you mean ...?\" for a misspelt type name.\n"
       "    --json prints one JSON object per line on standard output for each file\n"
       "    that fails, and nothing for one that passes: argument (the FILE given),\n"
       "    file and line (null for the file as a whole) of the failure, kind,\n"
       "    message, chain (outermost first, each with file, line and origin: text,\n"
       "    file, imported or derived) and suggestions. Fails if any file fails.\n"
       "    What loads but is likely a mistake (a type name that names nothing, an\n"
       "    alias that accepts no value, a byte-order mark) goes to standard error\n"
       "    as \"PATH:LINE: warning: message\", with or without --json; --strict\n"
       "    fails a file that has any.\n",
       1, kAnyNumber, {{"--json", "--strict"}, {}}, run_check},
      {"get", "[--deep] [--fallback] FILE KEY",
       "    Print the value of KEY; fails when KEY is not a key. --fallback prints\n"
       "    instead, when KEY is not a key, a key whose value is KEY. --deep follows\n"
       "    values that are themselves keys to the end of the chain. Use one or the\n"
       "    other.\n",
       2, 2, {{"--deep", "--fallback"}, {}}, run_get},
      {"keys", "FILE", "    Print the keys, one per line, sorted.\n", 1, 1, {}, run_keys},
      {"dump", "[--json [--raw]] FILE",
       "    Print every pair as \"key = value\", sorted by key. --json prints one\n"
       "    JSON object instead, in which lists are arrays and inline objects are\n"
       "    objects (keys sorted), as deep as they nest, up to 256 levels; items,\n"
       "    fields and all other values are strings. --raw keeps every value the\n"
       "    string it is stored as.\n",
       1, 1, {{"--json", "--raw"}, {}}, run_dump},
      {"validate", "TYPE VALUE [--file FILE]",
       "    Check VALUE against a built-in TYPE such as i32, color, list<f64> or\n"
       "    physics::meter; with --file, the @type aliases of FILE count as well.\n"
       "    For a TYPE that nothing knows, the nearest built-in names follow.\n",
       2, 2, {{}, {"--file"}}, run_validate},
      {"types", "[--json]",
       "    List the built-in types: each family (\"physics:\") on a line of its own,\n"
       "    then its names, one per line, indented by two spaces, with any other\n"
       "    spelling a name accepts in parentheses. --json prints an array of\n"
       "    objects with name, family and aliases.\n",
       0, 0, {{"--json"}, {}}, run_types},
      {"fmt", "[--check] [--diff] [FILE...]",
       "    Rewrite each file in the one canonical layout: one space each side of\n"
       "    an assignment's \"=\", the trailing comments of consecutive assignments\n"
       "    in one column, a block's inner lines indented by two spaces and its\n"
       "    closing \"}\" alone, at most one blank line in a row, no trailing white\n"
       "    space, a final line end, the file's own line ends. Only white space\n"
       "    changes. Imports are not followed nor types checked, but a file with a\n"
       "    line that check would refuse is left alone and the error printed.\n"
       "    --check writes nothing and names each file that would change, failing\n"
       "    if any would; --diff writes nothing and prints the changes as a unified\n"
       "    diff. Without FILE, or for \"-\", standard input goes to standard output.\n",
       0, kAnyNumber, {{"--check", "--diff"}, {}}, run_fmt},
      {"set", "[--delete] FILE KEY [VALUE]",
       "    Give the last assignment of KEY in FILE the value VALUE, keeping every\n"
       "    other byte, or append \"KEY = VALUE\" when there is none; VALUE is\n"
       "    quoted only where it must be to read back as itself. --delete removes\n"
       "    every assignment of KEY. The result is loaded as check would load FILE\n"
       "    and written only if it passes, so a refused edit leaves FILE as it was.\n",
       2, 3, {{"--delete"}, {}}, run_set},
      {"lsp", "[--stdio]",
       "    Run a language server for editors on standard input and output: it\n"
       "    shows what \"vyrl check\" would report, as the file is typed, and offers\n"
       "    the names a misspelt type may have meant. Logs go to standard error.\n",
       0, 0, {{"--stdio"}, {}}, run_lsp},
  };
  return commands;
}

const CommandInfo* find_command(std::string_view name) {
  for (const CommandInfo& command : command_table()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string usage_line(const CommandInfo& command) {
  return "usage: vyrl " + std::string(command.name) + " " + std::string(command.synopsis) + "\n";
}

std::string command_help(const CommandInfo& command) {
  return usage_line(command) + "\n" + std::string(command.description);
}

std::string general_help() {
  std::string text =
      "usage: vyrl COMMAND [OPTIONS] ARGUMENTS\n"
      "\n"
      "Loads, queries, checks, formats and edits VYRL configuration files.\n"
      "\n"
      "Commands:\n";
  for (const CommandInfo& command : command_table()) {
    text += "  vyrl " + std::string(command.name) + " " + std::string(command.synopsis) + "\n";
    text += command.description;
  }
  text +=
      "\n"
      "Options:\n"
      "  -h, --help     show this help (or a command's, after its name) and exit\n"
      "  -V, --version  show the version and exit\n"
      "  --             treat every later word as an argument, even one starting with \"--\"\n"
      "\n"
      "A FILE of \"-\" is read from standard input, reported as <stdin>. Paths in\n"
      "@import and @derive lines are resolved against the current directory, not\n"
      "against the file holding them.\n"
      "\n"
      "Errors go to standard error as \"PATH:LINE: message\" for the line that\n"
      "failed (\"PATH: message\" when the file as a whole did), followed by the\n"
      "files that led to PATH.\n"
      "\n"
      "Exit status: 0 when everything passed, 1 when a file, key or value did not,\n"
      "2 for a usage error.\n";
  return text;
}

int usage_error(std::string_view problem, const CommandInfo* command) {
  std::string text = "vyrl: " + std::string(problem) + "\n";
  text += command != nullptr ? usage_line(*command) : std::string(kTryHelp);
  write_err(text);
  return kUsageError;
}

int run(std::span<char* const> words) {
  if (words.empty()) return usage_error(kMissingCommand, nullptr);
  const std::string_view first = words[0];
  if (first == "-h" || first == "--help") {
    write_out(general_help());
    return kSuccess;
  }
  if (first == "-V" || first == "--version") {
    write_out("vyrl " VYRL_VERSION "\n");
    return kSuccess;
  }
  if (first == "help") {
    if (words.size() == 1) {
      write_out(general_help());
      return kSuccess;
    }
    const CommandInfo* topic = find_command(words[1]);
    if (topic == nullptr || words.size() > 2) {
      return usage_error(topic == nullptr ? unknown_command(words[1]) : std::string(kTooManyArguments), nullptr);
    }
    write_out(command_help(*topic));
    return kSuccess;
  }

  const CommandInfo* command = find_command(first);
  if (command == nullptr) {
    return usage_error(first.starts_with("-") ? unknown_option(first) : unknown_command(first), nullptr);
  }
  const auto arguments = parse_arguments(words.subspan(1), command->options, command->max_positionals);
  if (!arguments) return usage_error(arguments.error(), command);
  if (arguments->help) {
    write_out(command_help(*command));
    return kSuccess;
  }
  const std::size_t count = arguments->positionals.size();
  if (count < command->min_positionals) return usage_error(kMissingArguments, command);
  if (count > command->max_positionals) return usage_error(kTooManyArguments, command);
  return command->run(*arguments);
}

}  // namespace
}  // namespace vyrl::cli

int main(int argc, char** argv) {
  int status = vyrl::cli::kFailure;
  // A file can ask for more memory than the process may have; that is a
  // failure to report like any other, not a reason to abort.
  try {
    status = vyrl::cli::run(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)));
  } catch (const std::bad_alloc&) {
    vyrl::cli::write_err(vyrl::cli::kOutOfMemory);
    return vyrl::cli::kFailure;
  }
  // Output that never arrived (a full disk, a closed pipe) must not pass for success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    vyrl::cli::write_err(vyrl::cli::write_failure(error));
    return vyrl::cli::kFailure;
  }
  return status;
}
