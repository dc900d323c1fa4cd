#include <string>

#include "vyrl/error.hpp"
#include "directive/directive.hpp"
#include "statement/directive_arguments.hpp"
#include "model/recorder.hpp"
#include "store/store.hpp"

namespace vyrl {

// @schema Name { field: type, optional*: type }: declares the typed fields that
// assignments of the same keys, and objects of this schema's type, must satisfy.
Status execute_schema(const DirectiveContext& context, std::string_view arguments) {
  auto parsed = parse_schema_arguments(arguments);
  if (!parsed) return fail(std::move(parsed.error()));
  context.store.register_schema(std::string(parsed->name), SchemaDef::declare(parsed->fields));
  if (context.recorder != nullptr) {
    std::vector<Model::Field> fields;
    fields.reserve(parsed->fields.size());
    for (const auto& field : parsed->fields) fields.push_back(Model::Field{field.name, field.type, !field.mark.empty()});
    context.recorder->declared_schema(context.store, parsed->name, fields);
  }
  return {};
}

}  // namespace vyrl
