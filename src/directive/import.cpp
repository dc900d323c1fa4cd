#include <string>

#include "directive/directive.hpp"
#include "statement/directive_arguments.hpp"

namespace vyrl {
namespace {

// The handler is not told its line, so the argument text stands in for it.
VyrlError refuse(std::string_view arguments, std::string reason) {
  return VyrlError::parse(0, std::string(arguments), std::move(reason));
}

}  // namespace

// @import path: merges another file's lines into this document, as if written here.
Status execute_import(const DirectiveContext& context, std::string_view arguments) {
  auto path = parse_import_arguments(arguments);
  if (!path) return fail(std::move(path.error()));
  return context.nested.load_file(context.store, {*path, Frame::Origin::imported, arguments, refuse});
}

}  // namespace vyrl
