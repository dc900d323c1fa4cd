#pragma once

#include "commands/command.hpp"

namespace vyrl {

// @type name = definition: gives a type a document-local name. The definition is
// kept as text and only resolved when a value is checked against the alias.
class TypeCommand final : public Command {
 public:
  std::string_view name() const noexcept override { return "type"; }
  Status execute(VYRL& document, std::string_view arguments) const override;
};

}  // namespace vyrl
