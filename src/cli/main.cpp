// The `vyrl` command: loads, queries and checks VYRL files from the shell.
// This file holds the table of commands and the dispatch; the commands live
// in commands/.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "command_table.hpp"
#include "commands.hpp"
#include "lsp/server.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

constexpr std::string_view kMissingCommand = "missing command";
constexpr std::string_view kTryHelp = "Try 'vyrl --help' for more information.\n";
constexpr std::string_view kOutOfMemory = "vyrl: out of memory\n";

std::string unknown_command(std::string_view word) { return "unknown command '" + std::string(word) + "'"; }
std::string write_failure(int error) { return std::string("vyrl: cannot write output: ") + std::strerror(error) + "\n"; }

// The editor starts it; "--stdio" is accepted because many clients pass it.
int run_lsp(const Arguments&) { return lsp::serve_stdio(); }

// The options that may stand in place of a command, for hints.
constexpr std::string_view kGeneralOptions[] = {"--help", "--version"};

constexpr std::string_view kRootHelp =
    "    --root DIR resolves the paths in @import and @derive lines against DIR\n"
    "    instead of the current directory.\n";

}  // namespace

// --- Dispatch. ---

const std::vector<CommandInfo>& command_table() {
  static const std::vector<CommandInfo> commands{
      {"check", "[--json] [--max-errors N] FILE...",
       "    Load each file. Prints \"FILE: ok\" on standard output, or on standard\n"
       "    error each error as \"PATH:LINE: message\" for the line that failed,\n"
       "    even inside an imported or derived file, then one \"  imported from\n"
       "    PATH:LINE\" or \"  derived from PATH:LINE\" line per file that led there,\n"
       "    innermost first, and \"  did you mean ...?\" for a misspelt type name.\n"
       "    Loading goes on after a failing line, so every error of every file is\n"
       "    reported, up to --max-errors a file (20 unless given); an error that\n"
       "    only follows from an earlier one, such as a value of a type whose\n"
       "    @type line failed, is not reported again.\n"
       "    --json prints one JSON object per line on standard output for each\n"
       "    error, and nothing for a file that passes: argument (the FILE given),\n"
       "    file and line (null for the file as a whole) of the failure, kind,\n"
       "    message, chain (outermost first, each with file, line and origin: text,\n"
       "    file, imported or derived) and suggestions. Fails if any file fails.\n"
       "    What loads but is likely a mistake (a type name that names nothing, an\n"
       "    alias that accepts no value, a byte-order mark) goes to standard error\n"
       "    as \"PATH:LINE: warning: message\", with or without --json; --strict\n"
       "    fails a file that has any, which is then not called ok, and --json\n"
       "    gives it a record of kind \"Warning\" for its first warning. Every\n"
       "    record lists the file's warnings, if any, as warnings (line and\n"
       "    message). A FILE that is a directory stands for every *.vyr file below\n"
       "    it.\n",
       1, kAnyNumber, {{"--json", "--strict"}, {kRootOption, "--max-errors"}}, run_check, Operands::files},
      {"get", "[--deep] [--fallback] FILE KEY",
       "    Print the value of KEY; fails when KEY is not a key. --fallback prints\n"
       "    instead, when KEY is not a key, a key whose value is KEY. --deep follows\n"
       "    values that are themselves keys to the end of the chain. Use one or the\n"
       "    other.\n",
       2, 2, {{"--deep", "--fallback"}, {kRootOption}}, run_get, Operands::first_file},
      {"keys", "FILE", "    Print the keys, one per line, sorted.\n", 1, 1, {{}, {kRootOption}}, run_keys,
       Operands::files},
      {"dump", "[--json [--raw]] FILE",
       "    Print every pair as \"key = value\", sorted by key. --json prints one\n"
       "    JSON object instead, in which lists are arrays and inline objects are\n"
       "    objects (keys sorted), as deep as they nest, up to 256 levels; items,\n"
       "    fields and all other values are strings. --raw keeps every value the\n"
       "    string it is stored as. Without --json each value is written bare or in\n"
       "    quotes, whichever reads back as itself, as set does, so that the output\n"
       "    loads as the same pairs. A pair that no line can hold (a value with a\n"
       "    carriage return) fails the dump, each such key named and nothing\n"
       "    printed.\n",
       1, 1, {{"--json", "--raw"}, {kRootOption}}, run_dump, Operands::files},
      {"validate", "TYPE VALUE [--file FILE]",
       "    Check VALUE against a built-in TYPE such as i32, color, list<f64> or\n"
       "    physics::meter; with --file, the @type aliases of FILE count as well.\n"
       "    For a TYPE that nothing knows, the nearest built-in names follow.\n",
       2, 2, {{}, {"--file", kRootOption}}, run_validate},
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
       "    diff. Without FILE, or for \"-\", standard input goes to standard output.\n"
       "    --diff alone exits 0 whatever it prints; with --check it fails when\n"
       "    anything would change. A FILE that is a directory stands for every *.vyr\n"
       "    file below it. A file is replaced by a new one renamed over it, so\n"
       "    another hard link to it keeps the old text.\n",
       0, kAnyNumber, {{"--check", "--diff"}, {}}, run_fmt, Operands::files},
      {"set", "[--delete] [--append] FILE KEY [VALUE]",
       "    Give the last assignment of KEY in FILE the value VALUE, keeping every\n"
       "    other byte, or append \"KEY = VALUE\" when there is none; VALUE is\n"
       "    quoted only where it must be to read back as itself. --delete removes\n"
       "    every assignment of KEY. The result is loaded as check would load FILE\n"
       "    and written only if it passes, so a refused edit leaves FILE as it was;\n"
       "    nor is it written when a file read after the edited line sets KEY\n"
       "    again, so that the value asked for would not be the one that wins: the\n"
       "    refusal names the assignment that wins and the lines that read its\n"
       "    file. --append adds \"KEY = VALUE\" at the end of FILE instead, where it\n"
       "    wins. After writing, FILE is loaded again, and set fails unless KEY\n"
       "    then reads VALUE. A FILE that \"vyrl fmt --check\" accepts is laid out\n"
       "    again after the edit, so that it still does. FILE is replaced by a new\n"
       "    file renamed over it, so another hard link to it keeps the old text.\n",
       2, 3, {{"--delete", "--append"}, {kRootOption}}, run_set, Operands::first_file},
      {"gen", "python FILE",
       "    Print a Python module with one frozen dataclass per schema in effect\n"
       "    once FILE is loaded, its own and those it imports or derives, for\n"
       "    vyrl.load(FILE, into=...). Fields are typed as the vyrl package\n"
       "    converts values: int, float, bool, str, tuples for math types, lists,\n"
       "    and the other classes for objects; an optional field is \"X | None =\n"
       "    None\". Each class names the line that declared its schema.\n",
       2, 2, {{}, {kRootOption}}, run_gen, Operands::files},
      {"lsp", "[--stdio]",
       "    Run a language server for editors on standard input and output: it\n"
       "    shows what \"vyrl check\" would report, as the file is typed, and offers\n"
       "    the names a misspelt type may have meant. Logs go to standard error.\n",
       0, 0, {{"--stdio"}, {}}, run_lsp},
      {"completion", "SHELL",
       "    Print a script that completes the commands, their options, and .vyr\n"
       "    files and directories in SHELL, one of bash, zsh and fish. Load it with\n"
       "    \"source <(vyrl completion bash)\" in ~/.bashrc, the same for zsh after\n"
       "    compinit in ~/.zshrc, or \"vyrl completion fish | source\" in\n"
       "    ~/.config/fish/config.fish.\n",
       1, 1, {}, run_completion, Operands::shells},
  };
  return commands;
}

namespace {

const CommandInfo* find_command(std::string_view name) {
  for (const CommandInfo& command : command_table()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string usage_line(const CommandInfo& command) {
  return "usage: vyrl " + std::string(command.name) + " " + std::string(command.synopsis) + "\n";
}

bool takes_root(const CommandInfo& command) {
  return std::ranges::find(command.options.valued, kRootOption) != command.options.valued.end();
}

std::string command_help(const CommandInfo& command) {
  return usage_line(command) + "\n" + std::string(command.description) +
         std::string(takes_root(command) ? kRootHelp : "");
}

std::string command_hint(std::string_view word) {
  std::vector<std::string_view> names{"help"};
  for (const CommandInfo& command : command_table()) names.push_back(command.name);
  return did_you_mean(word, names);
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
      "against the file holding them. --root DIR, for the commands that load\n"
      "files (check, get, keys, dump, set, and validate with --file), resolves\n"
      "them against DIR instead: FILE arguments still start at the current\n"
      "directory, an absolute path stays as it is, and messages name each path\n"
      "as its line writes it.\n"
      "\n"
      "A directory given to check or fmt stands for every *.vyr file below it,\n"
      "in sorted order, leaving out hidden files and directories and following\n"
      "no symbolic link to a directory; a directory without such files passes\n"
      "quietly.\n"
      "\n"
      "Errors go to standard error as \"PATH:LINE: message\" for the line that\n"
      "failed (\"PATH: message\" when the file as a whole did), followed by the\n"
      "files that led to PATH.\n"
      "\n"
      "Exit status: 0 when everything passed, 1 when a file, key or value did not,\n"
      "2 for a usage error. A usage error for an unknown command or option names\n"
      "the nearest known ones, when one is near.\n";
  return text;
}

int usage_error_for(std::string_view problem, const CommandInfo* command) {
  std::string text = "vyrl: " + std::string(problem) + "\n";
  text += command != nullptr ? usage_line(*command) : std::string(kTryHelp);
  write_err(text);
  return kUsageError;
}

int run(std::span<char* const> words) {
  if (words.empty()) return usage_error_for(kMissingCommand, nullptr);
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
      return usage_error_for(
          topic == nullptr ? unknown_command(words[1]) + command_hint(words[1]) : std::string(kTooManyArguments),
          nullptr);
    }
    write_out(command_help(*topic));
    return kSuccess;
  }

  const CommandInfo* command = find_command(first);
  if (command == nullptr) {
    return usage_error_for(first.starts_with("-") ? unknown_option(first) + did_you_mean(first, kGeneralOptions)
                                                  : unknown_command(first) + command_hint(first),
                           nullptr);
  }
  const auto arguments = parse_arguments(words.subspan(1), command->options, command->max_positionals);
  if (!arguments) return usage_error_for(arguments.error(), command);
  if (arguments->help) {
    write_out(command_help(*command));
    return kSuccess;
  }
  const std::size_t count = arguments->positionals.size();
  if (count < command->min_positionals) return usage_error_for(kMissingArguments, command);
  if (count > command->max_positionals) return usage_error_for(kTooManyArguments, command);
  return command->run(*arguments);
}

}  // namespace

int usage_error(std::string_view problem, std::string_view command) {
  return usage_error_for(problem, find_command(command));
}

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
