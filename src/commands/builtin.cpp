#include "commands/builtin.hpp"

#include <array>

#include "commands/derive.hpp"
#include "commands/import.hpp"
#include "commands/schema.hpp"
#include "commands/typecm.hpp"

namespace vyrl {

std::span<const CommandPtr> builtin_commands() {
  // Handlers are stateless, so one shared instance of each serves every document.
  static const std::array<CommandPtr, 4> commands{
      std::make_shared<ImportCommand>(),
      std::make_shared<TypeCommand>(),
      std::make_shared<SchemaCommand>(),
      std::make_shared<DeriveCommand>(),
  };
  return commands;
}

}  // namespace vyrl
