#include "commands/typecm.hpp"

#include <memory>
#include <string>

#include "types/type_definition.hpp"
#include "vyrl/document.hpp"
#include "vyrl/text.hpp"

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

Status TypeCommand::execute(VYRL& document, std::string_view arguments) const {
  const std::size_t equals = arguments.find('=');
  if (equals == std::string_view::npos) return fail(refuse(arguments, kNotNameEqualsDefinition));
  const std::string_view alias = trim(arguments.substr(0, equals));
  // Later "=" belong to the definition, so "a = b = c" defines a as "b = c".
  const std::string_view definition = trim(arguments.substr(equals + 1));
  if (alias.empty()) return fail(refuse(arguments, kEmptyTypeName));
  if (definition.empty()) return fail(refuse(arguments, kEmptyDefinition));
  document.register_type(std::string(alias), std::make_unique<TypeDefinition>(std::string(definition)));
  return {};
}

}  // namespace vyrl
