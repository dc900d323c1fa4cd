#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/flat_map.hpp"

namespace vyrl {

// Keyed SipHash-1-3 over the key bytes. Every map gets its own key, derived from
// a per-process random secret, so a crafted file cannot aim many keys at one
// bucket and turn lookups quadratic.
class SeededHash {
 public:
  using is_transparent = void;

  SeededHash();  // a fresh key for a new map
  std::size_t operator()(std::string_view text) const noexcept;

 private:
  std::uint64_t k0_;
  std::uint64_t k1_;
};

// Registries map owned names to values and accept borrowed names for lookup.
// Flat tables rather than node-based ones: loading a large text then appends to
// one array instead of allocating a node per entry, which doubles merge speed.
template <class V>
using Registry = FlatMap<std::string, V, SeededHash>;
using NameSet = FlatSet<std::string, SeededHash>;
using ViewSet = FlatSet<std::string_view, SeededHash>;
// Short-lived maps over texts owned elsewhere.
using ViewMap = FlatMap<std::string_view, std::string_view, SeededHash>;

}  // namespace vyrl
