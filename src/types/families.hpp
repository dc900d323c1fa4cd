#pragma once

#include <array>
#include <cstddef>
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
  // Every member as written after the prefix, with the other spellings each
  // accepts and what a value of it looks like, for people.
  struct Member {
    std::string name;
    std::vector<std::string> aliases;
    std::string description;
  };
  std::vector<Member> (*members)();
  // The position in members() of the member a name stands for, found by the
  // same rule `resolve` matches by; SIZE_MAX when none.
  std::size_t (*position)(std::string_view member);
};

extern const std::array<TypeFamily, 4> kTypeFamilies;

// The family whose prefix `name` starts with; the primitives for a name without "::".
const TypeFamily* family_of(std::string_view name) noexcept;

}  // namespace vyrl
