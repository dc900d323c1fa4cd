#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl {

// Helpers for telling a person where an error happened and what may have been
// meant, built on the frames and the unknown type name an error carries. The
// message itself is never changed.

// Notes, innermost first: "in sub.vyr, line 2", "imported from main.vyr, line
// 5", ..., then "did you mean 'i32'?" when a type name was unknown. The
// Python module's notes are these, and stay as they were: the fix_hints are
// the tool's and the server's.
std::vector<std::string> describe_location(const VyrlError& error);

// The same, laid out as compilers do, but without the fix_hints: "sub.vyr:2:
// <message>", then one indented line per file that led there ("  imported
// from main.vyr:5") and the type-name hint, each ending in a newline. Every
// command of the tool reports so; `vyrl check` adds the fix_hints below.
std::string compiler_report(const VyrlError& error);

// How to fix the mistake, where the error's slip says the fix is mechanical,
// e.g. "a field is written 'name: type', with the ':' right after the name".
// A line named in one counts in the file that failed. Empty otherwise.
std::vector<std::string> fix_hints(const VyrlError& error);

// Built-in type names (and unit spellings) close to `unknown` by edit
// distance, nearest first; empty when none is near.
std::vector<std::string> suggest_type_names(std::string_view unknown);

// The names among `candidates` nearest to `word` by edit distance, letter
// case aside and a swap of two neighbours counting as one edit, when near
// enough to be a slip: a third of the word's length in edits, or one edit
// for a short word. Only the nearest come back, at most three, in the order
// given.
std::vector<std::string> nearest_names(std::string_view word, std::span<const std::string_view> candidates);

// Every built-in type name: the families, the five primitives, each member
// of time:: and math::, and all physical units with the other spellings they
// accept.
struct BuiltinType {
  std::string name;                  // as written in a document, e.g. "physics::meter"
  std::string family;                // "list", "primitive", "time", "math" or "physics"
  std::vector<std::string> aliases;  // further accepted names, e.g. "physics::atomicmassunit"
  std::string description;           // what a value looks like, e.g. "a number, without a unit symbol"
};
std::vector<BuiltinType> builtin_types();

// The entry of builtin_types() that `name` stands for as loading reads type
// names: a unit in any spelling loading accepts, "list<...>" as "list<T>".
// Null for anything loading would not resolve. The entry lives as long as
// the program.
const BuiltinType* find_builtin_type(std::string_view name);

// What loads (or fails for another reason) but is almost surely a mistake.
struct Warning {
  enum class Kind {
    unknown_type,            // a type name that no built-in, alias or schema has
    alias_accepts_no_value,  // an @type definition that no value can pass
    byte_order_mark,         // it would become part of the first line
    unknown_directive,       // already an error; this carries the name meant
  };
  Kind kind = Kind::unknown_type;
  Span where;        // the bytes to replace; borrowed from the text linted
  std::string message;
  // Texts that may replace `where`, likeliest first; an empty text removes
  // it. None where no mechanical fix exists.
  std::vector<std::string> replacements;
};

// Reads `text` as read_syntax does, resolving nothing outside it, and gives
// its warnings in the order of the text. A type name is known when it is
// built in or declared by an @type or @schema anywhere in the text; a text
// with @import or @derive lines may have it from another file, so there an
// unknown name is not reported.
std::vector<Warning> lint(std::string_view text);

}  // namespace vyrl
