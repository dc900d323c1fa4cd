#include <memory>
#include <string>

#include "directive/directive.hpp"
#include "statement/directive_arguments.hpp"
#include "model/recorder.hpp"
#include "store/store.hpp"
#include "types/type_definition.hpp"

namespace vyrl {

// @type name = definition: gives a type a document-local name.
Status execute_type(const DirectiveContext& context, std::string_view arguments) {
  auto parsed = parse_type_arguments(arguments);
  if (!parsed) return fail(std::move(parsed.error()));
  context.store.register_type(std::string(parsed->name), std::make_unique<TypeDefinition>(std::string(parsed->definition)));
  if (context.recorder != nullptr) context.recorder->declared_alias(context.store, parsed->name, parsed->definition);
  return {};
}

}  // namespace vyrl
