#include "commands/import.hpp"

#include "vyrl/document.hpp"
#include "vyrl/file.hpp"
#include "vyrl/nesting.hpp"
#include "vyrl/parsing.hpp"
#include "vyrl/text.hpp"

namespace vyrl {

Status ImportCommand::execute(VYRL& document, std::string_view arguments) const {
  const std::string_view trimmed = trim(arguments);
  if (trimmed.empty()) return fail(VyrlError::parse(0, std::string(arguments), "Import path cannot be empty"));
  const std::string_view path = unwrap_quotes(trimmed);

  auto guard = FileNestingGuard::enter(path);
  if (!guard) return fail(VyrlError::parse(0, std::string(arguments), nesting_refusal_reason(guard.error(), path)));

  auto text = read_text_file(path);
  if (!text) return fail(std::move(text.error()));
  return document.merge_content(*text);
}

}  // namespace vyrl
