#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vyrl/error.hpp"
#include "types/primitive_type.hpp"
#include "types/type.hpp"

namespace vyrl {

// Fixed-size rows of numbers written "math::member": "1.0, 2.5, -3". Only the
// component count is defined; no layout or meaning of the components.
class MathTypes final : public Type {
 public:
  enum class Member : std::uint8_t { Vector2, Vector3, Vector4, Quaternion, Matrix3x3, Matrix4x4 };

  explicit MathTypes(Member member) noexcept : member_(member) {}

  Member member() const noexcept { return member_; }
  std::size_t components() const noexcept;

  PrimitiveType base_type() const override { return PrimitiveType(PrimitiveType::Member::F64); }
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  Member member_;
};

struct MathMemberInfo {
  std::string_view type_name;  // after "math::", matched exactly
  std::size_t components;
};

// Indexed by MathTypes::Member.
inline constexpr std::array<MathMemberInfo, 6> kMathMembers{{
    {"vector2", 2},
    {"vector3", 3},
    {"vector4", 4},
    {"quaternion", 4},
    {"matrix3x3", 9},
    {"matrix4x4", 16},
}};

}  // namespace vyrl
