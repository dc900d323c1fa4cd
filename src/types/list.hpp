#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "types/primitive_type.hpp"
#include "types/type.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

// "list<T>": a bracketed literal whose items each validate as T. T is kept as a
// name and looked up in the scope of each check, so aliases and schemas
// declared later still apply.
class ListType final : public Type {
 public:
  // `element` is trimmed and non-empty (what parse_inner gives).
  explicit ListType(std::string element) : element_(std::move(element)) {}

  const std::string& element() const noexcept { return element_; }

  // The element type name of "list<T>" (trimmed, a view into `name`), or nothing
  // when `name` is not of that form. T may itself contain "<" and ">".
  static std::optional<std::string_view> parse_inner(std::string_view name) noexcept;

  // The trimmed, non-empty item texts of "[a, b, ...]", or nothing when `text`
  // is not bracketed. Only "[]" and "{}" nest; quotes do not protect commas.
  static std::optional<std::vector<std::string>> parse_items(std::string_view text);

  PrimitiveType base_type() const override { return PrimitiveType(PrimitiveType::Member::String); }
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  std::string element_;
};

}  // namespace vyrl
