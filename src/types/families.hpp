#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "types/type.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

// The built-in type families, once: type resolution dispatches on their
// prefixes, and the catalogue of names (`vyrl types`, suggestions, an editor's
// completion) lists their members from the same table.
struct TypeFamily {
  std::string_view name;    // "primitive", "time", "math", "physics"
  std::string_view prefix;  // what names of the family start with, e.g. "time::"; empty for the primitives
  // The type a member name (the part after the prefix) stands for, or NotFound.
  Result<TypePtr> (*resolve)(std::string_view member);
  // Every member as written after the prefix, with the other spellings each accepts.
  struct Member {
    std::string name;
    std::vector<std::string> aliases;
  };
  std::vector<Member> (*members)();
};

extern const std::array<TypeFamily, 4> kTypeFamilies;

// The family whose prefix `name` starts with; the primitives for a name without "::".
const TypeFamily* family_of(std::string_view name) noexcept;

}  // namespace vyrl
