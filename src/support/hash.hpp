#pragma once

#include <cstddef>
#include <cstdint>
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
class SeededHash {
 public:
  using is_transparent = void;

  SeededHash() noexcept;  // a fresh key for a new table
  std::uint64_t operator()(std::string_view text) const noexcept;

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
