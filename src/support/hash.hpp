#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "support/flat_map.hpp"

namespace vyrl {

// The hash of every table of texts, fast enough to run once for every
// assignment.
//
// Flooding: keys come from files that others write, so the hash is keyed with
// a secret drawn at random once per process (std::random_device) and mixed
// with a number of its own for each table. Without the secret nobody can
// choose keys that land in one run of a table and turn lookups quadratic. The
// mixing is folded 128-bit multiplication, the construction of the fast keyed
// hashes common in hash tables; it is not a cryptographic PRF, which a table
// does not need. (Measured against keyed SipHash-1-3, which it replaced, it
// makes a typed merge about a quarter faster.)
namespace hash_detail {

inline constexpr std::uint64_t kMix0 = 0xA0761D6478BD642FULL;
inline constexpr std::uint64_t kMix1 = 0xE7037ED1A0B428DBULL;

inline std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

inline std::uint64_t read64(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

inline std::uint64_t read32(const char* p) noexcept {
  std::uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

}  // namespace hash_detail

class SeededHash {
 public:
  using is_transparent = void;

  SeededHash() noexcept;  // a fresh key for a new table

  // Inline: the loader hashes every key it stores, and a call costs about
  // as much as hashing a short key.
  std::uint64_t operator()(std::string_view text) const noexcept {
    using namespace hash_detail;
    const char* p = text.data();
    std::size_t left = text.size();
    std::uint64_t h = seed_ ^ fold(left ^ kMix0, kMix1);
    while (left > 16) {
      h = fold(read64(p) ^ kMix0, read64(p + 8) ^ h);
      p += 16;
      left -= 16;
    }
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (left > 8) {
      a = read64(p);
      b = read64(p + left - 8);
    } else if (left >= 4) {
      a = read32(p);
      b = read32(p + left - 4);
    } else if (left > 0) {
      // 1 to 3 bytes: the first, middle and last.
      a = (std::uint64_t(static_cast<unsigned char>(p[0])) << 16) |
          (std::uint64_t(static_cast<unsigned char>(p[left / 2])) << 8) | static_cast<unsigned char>(p[left - 1]);
    }
    return fold(a ^ kMix1 ^ text.size(), fold(b ^ h, kMix0));
  }

 private:
  std::uint64_t seed_;
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
