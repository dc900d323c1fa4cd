#include <string>

#include "directive/directive.hpp"
#include "literal/literal.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

// The handler is not told its line, so the argument text stands in for it.
VyrlError refuse(std::string_view arguments, std::string reason) {
  return VyrlError::parse(0, std::string(arguments), std::move(reason));
}

}  // namespace

// @import path: merges another file's lines into this document, as if written here.
Status execute_import(const DirectiveContext& context, std::string_view arguments) {
  const std::string_view trimmed = trim(arguments);
  if (trimmed.empty()) return fail(refuse(arguments, "Import path cannot be empty"));
  const std::string_view path = unwrap_quotes(trimmed);
  return context.nested.load_file(context.store, {path, Frame::Origin::imported, arguments, refuse});
}

}  // namespace vyrl
