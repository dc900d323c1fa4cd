#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "directive/directive.hpp"

namespace vyrl {

// Files loaded through @import and @derive nest. One chain per call bounds how
// deep, refuses a file that is already being loaded further up, and counts
// every file the call loads.
inline constexpr std::size_t kMaxFileNesting = 64;

class NestingChain {
 public:
  using Refusal = NestedRefusal::Why;

  // Holds one file on the chain until it is destroyed.
  class Guard {
   public:
    Guard(Guard&& other) noexcept : chain_(std::exchange(other.chain_, nullptr)) {}
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (chain_ != nullptr) chain_->active_.pop_back();
    }

   private:
    friend class NestingChain;
    explicit Guard(NestingChain* chain) noexcept : chain_(chain) {}
    NestingChain* chain_;
  };

  // Registers `path` (compared by canonical path) as being loaded, as the
  // file number (count so far + 1) of this call, at most `max_loads`.
  std::expected<Guard, Refusal> enter(std::string_view path, std::size_t max_loads);

 private:
  std::vector<std::string> active_;
  std::size_t loads_ = 0;
};

}  // namespace vyrl
