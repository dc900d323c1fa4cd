#pragma once

#include <cstdint>
#include <string_view>

#include "types/type.hpp"

namespace vyrl {

// Whether a value passes a built-in type, answered from the text alone: no
// type object, no Status, no depth guard. A yes is the full check's yes; a no
// (and every type without a quick test) sends the value to the full check,
// which words the refusal. Most values pass, so most never reach it.
struct QuickCheck {
  enum class Kind : std::uint8_t { Full, Any, I32, Number, Bool, Color, Date, Duration, Components, List };
  Kind kind = Kind::Full;
  Kind item = Kind::Full;       // List: the kind of its items, never List or Full
  std::uint8_t components = 0;  // Components, or List of them

  bool accepts(std::string_view value) const noexcept;
};

// A built-in type other than a list: one object for the whole process, shared
// by every field that names it, and its quick test. Nothing for a list or an
// unknown name.
struct BuiltinScalar {
  const Type* type = nullptr;
  QuickCheck quick;
};
BuiltinScalar builtin_scalar(std::string_view name);

}  // namespace vyrl
