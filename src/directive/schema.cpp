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
  SchemaDef schema;
  for (const SchemaFieldSyntax& field : parsed->fields) {
    if (!field.mark.empty()) schema.optional_fields.emplace(field.name);
    // A repeated field takes the later type but keeps an earlier optional mark.
    if (auto existing = schema.fields.find(field.name); existing != schema.fields.end()) {
      existing->second.assign(field.type);
    } else {
      schema.fields.emplace(std::string(field.name), std::string(field.type));
    }
  }
  context.store.register_schema(std::string(parsed->name), std::move(schema));
  return {};
}

}  // namespace vyrl
