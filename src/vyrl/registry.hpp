#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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
template <class V>
using Registry = std::unordered_map<std::string, V, SeededHash, std::equal_to<>>;
using NameSet = std::unordered_set<std::string, SeededHash, std::equal_to<>>;
using ViewSet = std::unordered_set<std::string_view, SeededHash, std::equal_to<>>;
// Short-lived maps over texts owned elsewhere.
using ViewMap = std::unordered_map<std::string_view, std::string_view, SeededHash, std::equal_to<>>;

}  // namespace vyrl
