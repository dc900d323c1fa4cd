#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

namespace vyrl::python {

enum class Access { shared, exclusive };

// 0 when free, n > 0 while n readers are inside, -1 while a writer is.
class BorrowFlag {
 public:
  bool try_share() noexcept {
    std::intptr_t state = state_.load(std::memory_order_relaxed);
    do {
      if (state == kExclusive) return false;
    } while (!state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  bool try_lock() noexcept {
    std::intptr_t expected = 0;
    return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
  void unshare() noexcept { state_.fetch_sub(1, std::memory_order_release); }
  void unlock() noexcept { state_.store(0, std::memory_order_release); }

 private:
  static constexpr std::intptr_t kExclusive = -1;
  std::atomic<std::intptr_t> state_{0};
};

// Holds one borrow of a flag until `end()` or destruction, so every return path
// gives it back.
class Borrow {
 public:
  Borrow() noexcept = default;
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;
  ~Borrow() { end(); }

  // Takes the flag, or sets RuntimeError and returns false.
  bool take(BorrowFlag& flag, Access access) noexcept {
    const bool taken = access == Access::shared ? flag.try_share() : flag.try_lock();
    if (!taken) {
      PyErr_SetString(PyExc_RuntimeError,
                      access == Access::shared ? "Already mutably borrowed" : "Already borrowed");
      return false;
    }
    flag_ = &flag;
    access_ = access;
    return true;
  }

  void end() noexcept {
    if (flag_ == nullptr) return;
    if (access_ == Access::shared) {
      flag_->unshare();
    } else {
      flag_->unlock();
    }
    flag_ = nullptr;
  }

 private:
  BorrowFlag* flag_ = nullptr;
  Access access_ = Access::shared;
};

}  // namespace vyrl::python
