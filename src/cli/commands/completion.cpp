// `vyrl completion`: shell scripts that complete what the command table accepts.
#include "commands.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "command_table.hpp"
#include "tool.hpp"

namespace vyrl::cli {
namespace {

constexpr std::string_view kHelpWord = "help";

std::string joined(const std::vector<std::string_view>& words, std::string_view separator = " ") {
  std::string text;
  for (const std::string_view word : words) {
    if (!text.empty()) text += separator;
    text += word;
  }
  return text;
}

std::vector<std::string_view> command_words() {
  std::vector<std::string_view> words{kHelpWord};
  for (const CommandInfo& command : command_table()) words.push_back(command.name);
  return words;
}

std::string shell_words() { return joined({std::begin(kShells), std::end(kShells)}); }

std::vector<std::string_view> options_of(const CommandInfo& command) {
  std::vector<std::string_view> words(command.options.flags);
  words.insert(words.end(), command.options.valued.begin(), command.options.valued.end());
  words.push_back("--help");
  return words;
}

// Every option that takes a value, once: --root takes a directory, the
// others a file.
std::vector<std::string_view> valued_options() {
  std::vector<std::string_view> words;
  for (const CommandInfo& command : command_table()) {
    for (const std::string_view option : command.options.valued) {
      if (std::ranges::find(words, option) == words.end()) words.push_back(option);
    }
  }
  return words;
}

std::string_view operands_name(Operands operands) {
  switch (operands) {
    case Operands::none: return "none";
    case Operands::files: return "files";
    case Operands::first_file: return "first_file";
    case Operands::shells: return "shells";
  }
  return "none";
}

// What bash and zsh share, as their syntax is the same here: each command's
// options (`open` and `close` make the list a string or an array) and what
// its arguments are.
std::string command_cases(std::string_view command_word, std::string_view open, std::string_view close) {
  std::string text = "  case " + std::string(command_word) + " in\n";
  for (const CommandInfo& command : command_table()) {
    text += "    " + std::string(command.name) + ") choices=" + std::string(open) + joined(options_of(command)) +
            std::string(close) + " operands=" + std::string(operands_name(command.operands)) + " ;;\n";
  }
  text += "    " + std::string(kHelpWord) + ") operands=commands ;;\n";
  text += "    *) return 0 ;;\n  esac\n";
  return text;
}

// How many arguments stand between the command and the word completed, so
// that "vyrl get FILE <TAB>" offers no file for the KEY.
std::string argument_count(std::string_view first, std::string_view last, std::string_view word) {
  return "  local i count=0\n"
         "  for ((i = " + std::string(first) + "; i < " + std::string(last) + "; i++)); do\n"
         "    case " + std::string(word) + " in\n"
         "      " + joined(valued_options(), "|") + ") i=$((i + 1)) ;;\n"
         "      --* | -h) ;;\n"
         "      *) count=$((count + 1)) ;;\n"
         "    esac\n"
         "  done\n";
}

std::string bash_script() {
  std::string valued;
  for (const std::string_view option : valued_options()) {
    valued += "    " + std::string(option) + ") " + (option == kRootOption ? "_vyrl_directories" : "_vyrl_files") +
              " \"$cur\"; return 0 ;;\n";
  }
  return "# bash completion for vyrl, written by \"vyrl completion bash\".\n"
         "# Load it with: source <(vyrl completion bash)\n"
         "_vyrl_files() {\n"
         "  local IFS=$'\\n'\n"
         "  compopt -o filenames 2>/dev/null\n"
         "  COMPREPLY=($(compgen -d -- \"$1\") $(compgen -f -X '!*.vyr' -- \"$1\"))\n"
         "}\n"
         "\n"
         "_vyrl_directories() {\n"
         "  local IFS=$'\\n'\n"
         "  compopt -o filenames 2>/dev/null\n"
         "  COMPREPLY=($(compgen -d -- \"$1\"))\n"
         "}\n"
         "\n"
         "_vyrl() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  local choices='' operands=none\n"
         "  COMPREPLY=()\n"
         "  if ((COMP_CWORD == 1)); then\n"
         "    COMPREPLY=($(compgen -W '" + joined(command_words()) + " --help --version' -- \"$cur\"))\n"
         "    return 0\n"
         "  fi\n" +
         command_cases("${COMP_WORDS[1]}", "'", "'") +
         "  case $prev in\n" + valued + "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$choices\" -- \"$cur\"))\n"
         "    return 0\n"
         "  fi\n" +
         argument_count("2", "COMP_CWORD", "${COMP_WORDS[i]}") +
         "  case $operands in\n"
         "    files) _vyrl_files \"$cur\" ;;\n"
         "    first_file) if ((count == 0)); then _vyrl_files \"$cur\"; fi ;;\n"
         "    shells) if ((count == 0)); then COMPREPLY=($(compgen -W '" + shell_words() + "' -- \"$cur\")); fi ;;\n"
         "    commands) if ((count == 0)); then COMPREPLY=($(compgen -W '" + joined(command_words()) +
         "' -- \"$cur\")); fi ;;\n"
         "  esac\n"
         "  return 0\n"
         "}\n"
         "complete -F _vyrl vyrl\n";
}

std::string zsh_script() {
  std::string valued;
  for (const std::string_view option : valued_options()) {
    valued += "    " + std::string(option) + ") " + (option == kRootOption ? "_files -/" : "_files -g '*.vyr'") +
              "; return ;;\n";
  }
  return "#compdef vyrl\n"
         "# zsh completion for vyrl, written by \"vyrl completion zsh\".\n"
         "# Load it with: source <(vyrl completion zsh), after compinit; or save it\n"
         "# as _vyrl in a directory of $fpath.\n"
         "_vyrl() {\n"
         "  local -a choices\n"
         "  local operands=none\n"
         "  if ((CURRENT == 2)); then\n"
         "    compadd -- " + joined(command_words()) + " --help --version\n"
         "    return\n"
         "  fi\n" +
         command_cases("$words[2]", "(", ")") +
         "  case $words[CURRENT-1] in\n" + valued + "  esac\n"
         "  if [[ $PREFIX == -* ]]; then\n"
         "    compadd -a choices\n"
         "    return\n"
         "  fi\n" +
         argument_count("3", "CURRENT", "$words[i]") +
         "  case $operands in\n"
         "    files) _files -g '*.vyr' ;;\n"
         "    first_file) if ((count == 0)); then _files -g '*.vyr'; fi ;;\n"
         "    shells) if ((count == 0)); then compadd -- " + shell_words() + "; fi ;;\n"
         "    commands) if ((count == 0)); then compadd -- " + joined(command_words()) + "; fi ;;\n"
         "  esac\n"
         "}\n"
         "if [[ $zsh_eval_context[-1] == loadautofunc ]]; then\n"
         "  _vyrl \"$@\"\n"
         "else\n"
         "  compdef _vyrl vyrl\n"
         "fi\n";
}

// fish asks each line whether it applies; a command's arguments are not
// counted, so "vyrl get FILE <TAB>" offers files again.
std::string fish_script() {
  std::string text =
      "# fish completion for vyrl, written by \"vyrl completion fish\".\n"
      "# Load it with: vyrl completion fish | source\n"
      "# fish offers every file, those with the suffix first; only they and\n"
      "# directories are meant here.\n"
      "function __vyrl_files\n"
      "    __fish_complete_suffix .vyr | string match -r -- '^[^\\t]*(?:\\.vyr|/)(?:\\t.*)?$'\n"
      "end\n"
      "complete -c vyrl -f\n"
      "complete -c vyrl -n __fish_use_subcommand -a '" + joined(command_words()) + "'\n"
      "complete -c vyrl -n __fish_use_subcommand -s h -l help\n"
      "complete -c vyrl -n __fish_use_subcommand -s V -l version\n";
  const auto line = [&text](std::string_view command, std::string_view rest) {
    text += "complete -c vyrl -n '__fish_seen_subcommand_from " + std::string(command) + "' " + std::string(rest) + "\n";
  };
  for (const CommandInfo& command : command_table()) {
    for (const std::string_view option : options_of(command)) {
      const bool valued = std::ranges::find(command.options.valued, option) != command.options.valued.end();
      std::string rest = "-l " + std::string(option.substr(2));
      if (valued) {
        rest += option == kRootOption ? " -x -a '(__fish_complete_directories)'" : " -x -k -a '(__vyrl_files)'";
      }
      line(command.name, rest);
    }
    switch (command.operands) {
      case Operands::none: break;
      case Operands::files:
      case Operands::first_file: line(command.name, "-k -a '(__vyrl_files)'"); break;
      case Operands::shells: line(command.name, "-a '" + shell_words() + "'"); break;
    }
  }
  line(kHelpWord, "-a '" + joined(command_words()) + "'");
  return text;
}

}  // namespace

int run_completion(const Arguments& arguments) {
  const std::string_view shell = arguments.positionals[0];
  if (shell == "bash") {
    write_out(bash_script());
  } else if (shell == "zsh") {
    write_out(zsh_script());
  } else if (shell == "fish") {
    write_out(fish_script());
  } else {
    return usage_error("unknown shell '" + std::string(shell) + "'" + did_you_mean(shell, kShells), "completion");
  }
  return kSuccess;
}

}  // namespace vyrl::cli
