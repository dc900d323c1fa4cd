#include "commands/builtin.hpp"

#include <array>

#include "commands/import.hpp"

namespace vyrl {

std::span<const CommandPtr> builtin_commands() {
  // Handlers are stateless, so one shared instance of each serves every document.
  static const std::array<CommandPtr, 1> commands{
      std::make_shared<ImportCommand>(),
  };
  return commands;
}

}  // namespace vyrl
