#pragma once

#include <span>

#include "commands/command.hpp"

namespace vyrl {

// The handlers every new document starts with, in registration order.
std::span<const CommandPtr> builtin_commands();

}  // namespace vyrl
