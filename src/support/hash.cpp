#include "support/hash.hpp"

#include <atomic>
#include <cstring>
#include <random>

namespace vyrl {
namespace {

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
    : seed_(hash_detail::fold(process_secret() ^ hash_detail::kMix0, table_counter.fetch_add(1, std::memory_order_relaxed) + hash_detail::kMix1)) {}

}  // namespace vyrl
