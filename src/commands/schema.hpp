#pragma once

#include <string_view>

#include "commands/command.hpp"

namespace vyrl {

inline constexpr std::string_view kSchemaDirective = "schema";

// @schema Name { field: type, optional*: type }: declares the typed fields that
// assignments of the same keys, and objects of this schema's type, must satisfy.
class SchemaCommand final : public Command {
 public:
  std::string_view name() const noexcept override { return kSchemaDirective; }
  Status execute(VYRL& document, std::string_view arguments) const override;
};

}  // namespace vyrl
