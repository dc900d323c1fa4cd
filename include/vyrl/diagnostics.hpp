#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"

namespace vyrl {

// Helpers for telling a person where an error happened and what may have been
// meant, built on the frames and the unknown type name an error carries. The
// message itself is never changed.

// Notes, innermost first: "in sub.vyr, line 2", "imported from main.vyr, line
// 5", ..., then "did you mean 'i32'?" when a type name was unknown.
std::vector<std::string> describe_location(const VyrlError& error);

// The same, laid out as compilers do: "sub.vyr:2: <message>", then one
// indented line per file that led there ("  imported from main.vyr:5") and
// the hint, each ending in a newline.
std::string compiler_report(const VyrlError& error);

// Built-in type names (and unit spellings) close to `unknown` by edit
// distance, nearest first; empty when none is near.
std::vector<std::string> suggest_type_names(std::string_view unknown);

// Every built-in type name: the families, the five primitives, each member
// of time:: and math::, and all physical units with the other spellings they
// accept.
struct BuiltinType {
  std::string name;                  // as written in a document, e.g. "physics::meter"
  std::string family;                // "list", "primitive", "time", "math" or "physics"
  std::vector<std::string> aliases;  // further accepted names, e.g. "physics::atomicmassunit"
};
std::vector<BuiltinType> builtin_types();

}  // namespace vyrl
