#pragma once

#include <string_view>
#include <vector>

#include "commands/command.hpp"

namespace vyrl {

inline constexpr std::string_view kDeriveDirective = "derive";

// What a derive line asks for: the base file and the schemas to take from it
// (none selected means all of them). Views into the argument text.
struct DeriveTarget {
  std::string_view path;
  std::vector<std::string_view> schemas;
};

// Accepts `path`, `path::A::B`, `"path" A::B`, `"path"::A` and `'path':A :: B`.
DeriveTarget split_derive_arguments(std::string_view arguments);

// @derive path[::Schema...]: loads a base file into a document of its own and
// takes from it what this document lacks (schemas, the aliases they use, keys),
// never replacing anything already here; then checks that the schemas declared
// before this line are complete.
class DeriveCommand final : public Command {
 public:
  std::string_view name() const noexcept override { return kDeriveDirective; }
  Status execute(VYRL& document, std::string_view arguments) const override;
};

}  // namespace vyrl
