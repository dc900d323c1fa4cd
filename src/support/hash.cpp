#include "support/hash.hpp"

#include <atomic>
#include <cstring>
#include <random>

namespace vyrl {
namespace {

constexpr std::uint64_t kMix0 = 0xA0761D6478BD642FULL;
constexpr std::uint64_t kMix1 = 0xE7037ED1A0B428DBULL;

std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t read64(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

std::uint64_t read32(const char* p) noexcept {
  std::uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

std::uint64_t process_secret() {
  static const std::uint64_t secret = [] {
    std::random_device device;
    return (std::uint64_t(device()) << 32) ^ device();
  }();
  return secret;
}

std::atomic<std::uint64_t> table_counter{0};

}  // namespace

SeededHash::SeededHash() noexcept
    : seed_(fold(process_secret() ^ kMix0, table_counter.fetch_add(1, std::memory_order_relaxed) + kMix1)) {}

std::uint64_t SeededHash::operator()(std::string_view text) const noexcept {
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

}  // namespace vyrl
