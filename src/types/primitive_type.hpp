#pragma once

#include <cstdint>
#include <string_view>

#include "vyrl/error.hpp"
#include "types/type.hpp"

namespace vyrl {

// The five scalar types a name without "::" can denote; also what every
// base_type() reduces to.
class PrimitiveType final : public Type {
 public:
  enum class Member : std::uint8_t { I32, F64, String, Bool, Color };

  explicit PrimitiveType(Member member) noexcept : member_(member) {}

  // Exact, case-sensitive match on the type name; NotFound carries `name` unchanged.
  static Result<PrimitiveType> from_name(std::string_view name);

  Member member() const noexcept { return member_; }
  // The type name as written in documents, e.g. "i32".
  std::string_view name() const noexcept;

  bool operator==(const PrimitiveType& other) const noexcept { return member_ == other.member_; }

  PrimitiveType base_type() const override { return *this; }
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  Member member_;
};

}  // namespace vyrl
