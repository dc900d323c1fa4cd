#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "arguments.hpp"

// The table of commands: main.cpp dispatches on it and prints its help, and
// the completion scripts are written from it, so that they offer what the
// tool accepts.
namespace vyrl::cli {

inline constexpr std::size_t kAnyNumber = static_cast<std::size_t>(-1);

// What a command's arguments are, for the completion scripts.
enum class Operands {
  none,        // nothing to offer
  files,       // every argument a file or directory
  first_file,  // a file, then keys or values
  shells,      // the shells that completion knows
};

struct CommandInfo {
  std::string_view name;
  std::string_view synopsis;     // the arguments, as shown after "vyrl NAME"
  std::string_view description;  // indented help text, one or more lines
  std::size_t min_positionals;
  std::size_t max_positionals;
  OptionTable options;
  int (*run)(const Arguments&);
  Operands operands = Operands::none;
};

const std::vector<CommandInfo>& command_table();

// The shells `vyrl completion` writes a script for.
inline constexpr std::string_view kShells[] = {"bash", "zsh", "fish"};

}  // namespace vyrl::cli
