// `vyrl gen python`: the schemas a file ends with, as Python classes that the
// vyrl package loads configurations into. Types are mapped as the package
// converts values, so that a generated class accepts exactly what it loads.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "commands.hpp"
#include "tool.hpp"
#include "vyrl/model.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli {
namespace {

constexpr std::string_view kLanguages[] = {"python"};

// Names a generated module may not take for a class or field: Python's
// keywords, and the names its annotations and imports use.
constexpr std::array<std::string_view, 43> kReserved = {
    "False",  "None",     "True",     "and",    "as",       "assert", "async",  "await",  "break",
    "class",  "continue", "def",      "del",    "elif",     "else",   "except", "finally", "for",
    "from",   "global",   "if",       "import", "in",       "is",     "lambda", "nonlocal", "not",
    "or",     "pass",     "raise",    "return", "try",      "while",  "with",   "yield",  "int",
    "float",  "str",      "bool",     "tuple",  "list",     "dataclass", "field",
};

// A Python identifier for a VYRL name: what is not a letter, digit or "_"
// becomes "_", and a leading digit or a reserved name gets one more "_".
std::string identifier(std::string_view name) {
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;
    const bool word = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                      (byte >= '0' && byte <= '9') || byte == '_';
    out.push_back(word ? c : '_');
  }
  if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out.insert(out.begin(), '_');
  if (std::find(kReserved.begin(), kReserved.end(), out) != kReserved.end()) out.push_back('_');
  return out;
}

// A Python string literal holding `text`.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

class PythonTypes {
 public:
  PythonTypes(const Model& model, const std::unordered_map<std::string_view, std::string>& classes)
      : model_(model), classes_(classes) {}

  std::string of(std::string_view type_name, int depth = 0) const {
    const Model::Resolution type = model_.resolve(type_name);
    if (type.ends == Model::Resolution::Ends::schema) return classes_.at(type.name);
    if (type.ends != Model::Resolution::Ends::builtin || depth > 64) return "str";
    if (type.family == "list") return "list[" + of(type.element, depth + 1) + "]";
    if (type.family == "math") {
      std::string row = "tuple[";
      for (std::size_t i = 0; i < type.components; ++i) row += i == 0 ? "float" : ", float";
      return row + "]";
    }
    if (type.whole) return "int";
    if (type.family == "physics") return "float";
    if (type.family == "time") return type.name == "time::datetime" || type.name == "time::duration" ? "str" : "float";
    if (type.name == "f64") return "float";
    if (type.name == "bool") return "bool";
    return "str";
  }

 private:
  const Model& model_;
  const std::unordered_map<std::string_view, std::string>& classes_;
};

std::string python_module(std::string_view path, const Model& model) {
  std::vector<const Model::Schema*> schemas;
  std::unordered_map<std::string_view, std::string> classes;
  for (const Model::Schema& schema : model.schemas()) {
    if (model.schema(schema.name) != &schema) continue;
    schemas.push_back(&schema);
    classes.emplace(schema.name, identifier(schema.name));
  }
  const PythonTypes types(model, classes);

  std::string body;
  bool renamed = false;
  for (const Model::Schema* schema : schemas) {
    body += "\n\n@dataclass(frozen=True, kw_only=True)\nclass " + classes.at(schema->name) + ":\n";
    body += "    \"\"\"Schema " + std::string(schema->name) + ", declared at " + model.describe(schema->place) + ".\"\"\"\n";
    if (schema->fields.empty()) body += "\n    pass\n";
    if (!schema->fields.empty()) body += "\n";
    for (const Model::Field& field : schema->fields) {
      const std::string name = identifier(field.name);
      std::string type = types.of(field.type_name);
      std::string line = "    " + name + ": " + type;
      if (field.optional) line += " | None";
      if (name != field.name) {
        renamed = true;
        line += " = field(" + std::string(field.optional ? "default=None, " : "") + "metadata={\"vyrl\": " +
                quoted(field.name) + "})";
      } else if (field.optional) {
        line += " = None";
      }
      body += line + "  # " + std::string(field.type_name) + "\n";
    }
  }
  std::string out = "\"\"\"The schemas of " + std::string(path) +
                    " as dataclasses, for vyrl.load(..., into=...).\n\nWritten by `vyrl gen python`; "
                    "write it again rather than editing it.\n\"\"\"\n\n"
                    "from __future__ import annotations\n\n";
  out += renamed ? "from dataclasses import dataclass, field\n" : "from dataclasses import dataclass\n";
  out += "\n__all__ = [";
  for (std::size_t i = 0; i < schemas.size(); ++i) {
    out += (i == 0 ? "" : ", ") + quoted(classes.at(schemas[i]->name));
  }
  out += "]\n";
  return out + body;
}

}  // namespace

int run_gen(const Arguments& arguments) {
  const std::string_view language = arguments.positionals[0];
  if (std::find(std::begin(kLanguages), std::end(kLanguages), language) == std::end(kLanguages)) {
    return usage_error("unknown language '" + std::string(language) + "'; gen writes python", "gen");
  }
  const auto loading = Loading::from(arguments);
  if (!loading) return kFailure;
  Model model;
  Options options = loading->options();
  options.model = &model;
  const std::string_view path = arguments.positionals[1];
  if (!open_or_report(path, options)) return kFailure;
  write_out(python_module(display_name(path), model));
  return kSuccess;
}

}  // namespace vyrl::cli
