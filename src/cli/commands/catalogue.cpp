// `vyrl validate` and `types`: the type names and what they accept.
#include "commands.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "tool.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {

int run_validate(const Arguments& arguments) {
  const std::string_view type_name = arguments.positionals[0];
  const std::string_view value = arguments.positionals[1];
  std::optional<VYRL> document;
  if (const auto path = arguments.value("--file")) {
    const auto loading = Loading::from(arguments);
    if (!loading) return kFailure;
    document = open_or_report(*path, loading->options());
    if (!document) return kFailure;
  } else {
    document.emplace();
  }
  if (auto valid = document->validate_value(type_name, value); !valid) {
    // The check itself names no file or line, so this is the message and, for
    // a type name nothing knows, the names it was probably meant to be.
    report(valid.error());
    return kFailure;
  }
  write_out(std::string(kPassed) + "\n");
  return kSuccess;
}

namespace {

void append_types_as_json(std::string& out, const std::vector<BuiltinType>& types) {
  Json list = Json::array();
  for (const BuiltinType& type : types) {
    Json entry;
    entry["name"] = type.name;
    entry["family"] = type.family;
    entry["aliases"] = type.aliases;
    entry["description"] = type.description;
    list.push_back(std::move(entry));
  }
  out += json_text(list, true);
}

// Families as headings and names indented under them, each with what its
// values look like, so that the list reads well and `grep meter` still finds
// whole names.
void append_types_as_text(std::string& out, const std::vector<BuiltinType>& types) {
  std::string_view family;
  for (const BuiltinType& type : types) {
    if (type.family != family) {
      family = type.family;
      out += type.family + ":\n";
    }
    out += "  " + type.name;
    for (std::size_t j = 0; j < type.aliases.size(); ++j) {
      out += j == 0 ? " (also " : ", ";
      out += type.aliases[j];
    }
    if (!type.aliases.empty()) out += ")";
    out += ": " + type.description + "\n";
  }
}

}  // namespace

int run_types(const Arguments& arguments) {
  const std::vector<BuiltinType> types = builtin_types();
  std::string out;
  if (arguments.has("--json")) {
    append_types_as_json(out, types);
  } else {
    append_types_as_text(out, types);
  }
  write_out(out);
  return kSuccess;
}

}  // namespace vyrl::cli
