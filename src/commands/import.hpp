#pragma once

#include "commands/command.hpp"

namespace vyrl {

// @import path: merges another file's lines into this document, as if written here.
class ImportCommand final : public Command {
 public:
  std::string_view name() const noexcept override { return "import"; }
  Status execute(VYRL& document, std::string_view arguments) const override;
};

}  // namespace vyrl
