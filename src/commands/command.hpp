#pragma once

#include <memory>
#include <string_view>

#include "error/error.hpp"

namespace vyrl {

class VYRL;

// A directive handler. Handlers are stateless and shared between documents;
// the dispatcher holds an extra reference while one runs.
class Command {
 public:
  virtual ~Command() = default;
  // The directive name without "@".
  virtual std::string_view name() const noexcept = 0;
  // Runs the directive; `arguments` is the rest of the line after the name and one
  // white-space character. Handlers are not told the line number.
  virtual Status execute(VYRL& document, std::string_view arguments) const = 0;
};

using CommandPtr = std::shared_ptr<const Command>;

}  // namespace vyrl
