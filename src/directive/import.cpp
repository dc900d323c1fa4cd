#include <string>

#include "directive/directive.hpp"
#include "statement/directive_arguments.hpp"

namespace vyrl {

// @import path: merges another file's lines into this document, as if written here.
Status execute_import(const DirectiveContext& context, std::string_view arguments) {
  auto path = parse_import_arguments(arguments);
  if (!path) return fail(std::move(path.error()));
  auto loaded = context.nested.load_file(context.store, {*path, Frame::Origin::imported});
  // Like its other errors, a refusal quotes the argument text where the line would stand.
  if (!loaded) return fail(VyrlError::parse(0, std::string(arguments), nested_refusal_reason(loaded.error(), *path)));
  return std::move(*loaded);
}

}  // namespace vyrl
