#include <memory>
#include <string>

#include "directive/directive.hpp"
#include "store/store.hpp"
#include "text/text.hpp"
#include "types/type_definition.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kNotNameEqualsDefinition = "Type definition must be in the format 'name = definition'";
constexpr std::string_view kEmptyTypeName = "Type name cannot be empty";
constexpr std::string_view kEmptyDefinition = "Type definition cannot be empty";

// The handler is not told its line, so the argument text stands in for it.
VyrlError refuse(std::string_view arguments, std::string_view reason) {
  return VyrlError::parse(0, std::string(arguments), std::string(reason));
}

}  // namespace

// @type name = definition: gives a type a document-local name.
Status execute_type(const DirectiveContext& context, std::string_view arguments) {
  const std::size_t equals = arguments.find('=');
  if (equals == std::string_view::npos) return fail(refuse(arguments, kNotNameEqualsDefinition));
  const std::string_view alias = trim(arguments.substr(0, equals));
  // Later "=" belong to the definition, so "a = b = c" defines a as "b = c".
  const std::string_view definition = trim(arguments.substr(equals + 1));
  if (alias.empty()) return fail(refuse(arguments, kEmptyTypeName));
  if (definition.empty()) return fail(refuse(arguments, kEmptyDefinition));
  context.store.register_type(std::string(alias), std::make_unique<TypeDefinition>(std::string(definition)));
  return {};
}

}  // namespace vyrl
