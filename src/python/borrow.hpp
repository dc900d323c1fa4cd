#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

namespace vyrl::python {

enum class Access { shared, exclusive };

// 0 when free, n > 0 while n readers are inside, -1 while a writer is.
//
// Only the thread that owns the document ever reaches its flag: every entry
// point refuses a stranger before it takes a borrow, and a drop away from the
// owner leaves the flag alone. What the flag guards against is re-entry on that
// one thread (a finalizer or a signal handler that runs inside a call), so a
// plain load and store do, where a locked read-modify-write would cost more
// than the lookup it guards. The flag stays atomic so that even a stranger's
// read could never be a data race.
class BorrowFlag {
 public:
  bool try_share() noexcept {
    const std::intptr_t state = state_.load(std::memory_order_relaxed);
    if (state == kExclusive) return false;
    state_.store(state + 1, std::memory_order_relaxed);
    return true;
  }
  bool try_lock() noexcept {
    if (state_.load(std::memory_order_relaxed) != 0) return false;
    state_.store(kExclusive, std::memory_order_relaxed);
    return true;
  }
  void unshare() noexcept { state_.store(state_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed); }
  void unlock() noexcept { state_.store(0, std::memory_order_relaxed); }

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
