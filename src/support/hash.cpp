#include "support/hash.hpp"

#include <atomic>
#include <cstring>
#include <random>

namespace vyrl {
namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void round() noexcept {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

struct ProcessSecret {
  std::uint64_t k0;
  std::uint64_t k1;
};

const ProcessSecret& process_secret() {
  static const ProcessSecret secret = [] {
    std::random_device device;
    auto draw = [&] { return (std::uint64_t(device()) << 32) ^ device(); };
    return ProcessSecret{draw(), draw()};
  }();
  return secret;
}

// splitmix64: spreads a counter into a well-mixed key per map.
std::uint64_t mix(std::uint64_t x) noexcept {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::atomic<std::uint64_t> map_counter{0};

}  // namespace

SeededHash::SeededHash() {
  const ProcessSecret& secret = process_secret();
  const std::uint64_t n = map_counter.fetch_add(1, std::memory_order_relaxed);
  k0_ = secret.k0 ^ mix(n);
  k1_ = secret.k1 ^ mix(~n);
}

std::size_t SeededHash::operator()(std::string_view text) const noexcept {
  SipState s{k0_ ^ 0x736f6d6570736575ULL, k1_ ^ 0x646f72616e646f6dULL, k0_ ^ 0x6c7967656e657261ULL,
             k1_ ^ 0x7465646279746573ULL};
  const char* p = text.data();
  const std::size_t size = text.size();
  const std::size_t whole = size & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m;
    std::memcpy(&m, p + i, 8);
    s.v3 ^= m;
    s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = std::uint64_t(size) << 56;
  for (std::size_t i = whole; i < size; ++i) {
    last |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * (i - whole));
  }
  s.v3 ^= last;
  s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace vyrl
