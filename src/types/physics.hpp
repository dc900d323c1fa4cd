#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vyrl/error.hpp"
#include "types/primitive_type.hpp"
#include "types/type.hpp"

namespace vyrl {

// Whether a unit counts whole things (a value must be an i32) or measures (any number).
enum class UnitKind : std::uint8_t { Integer, Real };

// Every physical unit, in declared order: canonical name, value kind. Units are
// names only; nothing converts between them. Adding a unit is adding one line,
// from which both PhysicsTypes::Member and kPhysicsUnits are generated.
#define VYRL_PHYSICS_UNITS(UNIT)        \
  UNIT(meter, Real)                     \
  UNIT(kilogram, Real)                  \
  UNIT(second, Real)                    \
  UNIT(ampere, Real)                    \
  UNIT(kelvin, Real)                    \
  UNIT(mole, Real)                      \
  UNIT(candela, Real)                   \
  UNIT(squareMeter, Real)               \
  UNIT(cubicMeter, Real)                \
  UNIT(meterPerSecond, Real)            \
  UNIT(meterPerSecondSquared, Real)     \
  UNIT(radianPerSecond, Real)           \
  UNIT(radianPerSecondSquared, Real)    \
  UNIT(hertz, Real)                     \
  UNIT(kilogramPerCubicMeter, Real)     \
  UNIT(kilogramMeterPerSecond, Real)    \
  UNIT(newton, Real)                    \
  UNIT(newtonMeter, Real)               \
  UNIT(pascal, Real)                    \
  UNIT(joule, Real)                     \
  UNIT(watt, Real)                      \
  UNIT(newtonPerMeter, Real)            \
  UNIT(dimensionless, Real)             \
  UNIT(kilogramSquareMeter, Real)       \
  UNIT(joulePerKilogramKelvin, Real)    \
  UNIT(joulePerKilogram, Real)          \
  UNIT(joulePerKelvin, Real)            \
  UNIT(coulomb, Real)                   \
  UNIT(volt, Real)                      \
  UNIT(ohm, Real)                       \
  UNIT(ohmMeter, Real)                  \
  UNIT(farad, Real)                     \
  UNIT(voltPerMeter, Real)              \
  UNIT(tesla, Real)                     \
  UNIT(weber, Real)                     \
  UNIT(henry, Real)                     \
  UNIT(dioptre, Real)                   \
  UNIT(percentage, Real)                \
  UNIT(becquerel, Real)                 \
  UNIT(gray, Real)                      \
  UNIT(sievert, Real)                   \
  UNIT(electronVolt, Real)              \
  UNIT(barn, Real)                      \
  UNIT(lightYear, Real)                 \
  UNIT(parsec, Real)                    \
  UNIT(astronomicalUnit, Real)          \
  UNIT(hubbleConstant, Real)            \
  UNIT(siemens, Real)                   \
  UNIT(coulombPerCubicMeter, Real)      \
  UNIT(coulombPerSquareMeter, Real)     \
  UNIT(faradPerMeter, Real)             \
  UNIT(henryPerMeter, Real)             \
  UNIT(amperePerMeter, Real)            \
  UNIT(amperePerSquareMeter, Real)      \
  UNIT(voltPerKelvin, Real)             \
  UNIT(pascalSecond, Real)              \
  UNIT(squareMeterPerSecond, Real)      \
  UNIT(newtonSecond, Real)              \
  UNIT(newtonPerCubicMeter, Real)       \
  UNIT(jouleSecond, Real)               \
  UNIT(kilogramPerMole, Real)           \
  UNIT(cubicMeterPerKilogram, Real)     \
  UNIT(meterPerCubicSecond, Real)       \
  UNIT(lumen, Real)                     \
  UNIT(lux, Real)                       \
  UNIT(lumenSecond, Real)               \
  UNIT(candelaPerSquareMeter, Real)     \
  UNIT(wattPerSteradian, Real)          \
  UNIT(wattPerSquareMeter, Real)        \
  UNIT(wattPerMeterKelvin, Real)        \
  UNIT(joulePerSquareMeter, Real)       \
  UNIT(radian, Real)                    \
  UNIT(steradian, Real)                 \
  UNIT(bit, Integer)                    \
  UNIT(decibel, Real)                   \
  UNIT(katal, Real)                     \
  UNIT(molePerCubicMeter, Real)         \
  UNIT(newtonPerMeterSquared, Real)     \
  UNIT(joulePerMole, Real)              \
  UNIT(joulePerMoleKelvin, Real)        \
  UNIT(kelvinPerWatt, Real)             \
  UNIT(kilogramPerSecond, Real)         \
  UNIT(cubicMeterPerSecond, Real)       \
  UNIT(inverseMeter, Real)              \
  UNIT(newtonPerCoulomb, Real)          \
  UNIT(weberPerMeter, Real)             \
  UNIT(teslaSquareMeter, Real)          \
  UNIT(arcDegree, Real)                 \
  UNIT(arcMinute, Real)                 \
  UNIT(arcSecond, Real)                 \
  UNIT(bar, Real)                       \
  UNIT(millimeterOfMercury, Real)       \
  UNIT(atmosphere, Real)                \
  UNIT(torr, Real)                      \
  UNIT(poise, Real)                     \
  UNIT(stokes, Real)                    \
  UNIT(sverdrup, Real)                  \
  UNIT(rayl, Real)                      \
  UNIT(gal, Real)                       \
  UNIT(maxwell, Real)                   \
  UNIT(gauss, Real)                     \
  UNIT(oersted, Real)                   \
  UNIT(gilbert, Real)                   \
  UNIT(franklin, Real)                  \
  UNIT(debye, Real)                     \
  UNIT(angstrom, Real)                  \
  UNIT(lambert, Real)                   \
  UNIT(phot, Real)                      \
  UNIT(stilb, Real)                     \
  UNIT(kayser, Real)                    \
  UNIT(calorie, Real)                   \
  UNIT(britishThermalUnit, Real)        \
  UNIT(langley, Real)                   \
  UNIT(fahrenheit, Real)                \
  UNIT(celsius, Real)                   \
  UNIT(rankine, Real)                   \
  UNIT(curie, Real)                     \
  UNIT(roentgen, Real)                  \
  UNIT(rutherford, Real)                \
  UNIT(fermi, Real)                     \
  UNIT(dalton, Real)                    \
  UNIT(byte, Integer)                   \
  UNIT(baud, Integer)                   \
  UNIT(erlang, Real)                    \
  UNIT(metabolicEquivalent, Real)       \
  UNIT(jansky, Real)                    \
  UNIT(machNumber, Real)                \
  UNIT(knots, Real)                     \
  UNIT(nauticalMile, Real)              \
  UNIT(horsepower, Real)

// The units written "physics::unit". Name matching ignores letter case, "-" and
// "_"; a value is a bare number, whole for the counting units.
class PhysicsTypes final : public Type {
 public:
  // Enumerators are spelled exactly like the canonical names.
  enum class Member : std::uint8_t {
#define VYRL_PHYSICS_MEMBER(name, kind) name,
    VYRL_PHYSICS_UNITS(VYRL_PHYSICS_MEMBER)
#undef VYRL_PHYSICS_MEMBER
  };

  explicit PhysicsTypes(Member member) noexcept : member_(member) {}

  // Matches after lower-casing and dropping every "-" and "_"; NotFound carries
  // `name` exactly as it was passed.
  static Result<PhysicsTypes> from_name(std::string_view name);

  Member member() const noexcept { return member_; }
  // The canonical camelCase name, as messages spell it.
  std::string_view name() const noexcept;
  UnitKind kind() const noexcept;

  PrimitiveType base_type() const override;
  Status validate(std::string_view value, const TypeScope& scope) const override;

 private:
  Member member_;
};

struct PhysicsUnit {
  std::string_view name;
  UnitKind kind;
};

// Indexed by PhysicsTypes::Member.
inline constexpr auto kPhysicsUnits = std::to_array<PhysicsUnit>({
#define VYRL_PHYSICS_ENTRY(name, kind) {#name, UnitKind::kind},
    VYRL_PHYSICS_UNITS(VYRL_PHYSICS_ENTRY)
#undef VYRL_PHYSICS_ENTRY
});

}  // namespace vyrl
