#include <string>

#include "vyrl/error.hpp"
#include "directive/directive.hpp"
#include "statement/directive_arguments.hpp"
#include "store/store.hpp"

namespace vyrl {

// @schema Name { field: type, optional*: type }: declares the typed fields that
// assignments of the same keys, and objects of this schema's type, must satisfy.
Status execute_schema(const DirectiveContext& context, std::string_view arguments) {
  auto parsed = parse_schema_arguments(arguments);
  if (!parsed) return fail(std::move(parsed.error()));
  context.store.register_schema(std::string(parsed->name), SchemaDef::declare(parsed->fields));
  return {};
}

}  // namespace vyrl
