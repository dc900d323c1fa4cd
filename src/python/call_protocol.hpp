#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "error/error.hpp"

namespace vyrl::python {

// The name the thread-binding messages give the class, whatever the
// interpreter calls it.
inline constexpr const char* kInternalTypeName = "vyr_rs::python::PyVYRL";

// --- Arguments. ---

// What a named method accepts: every parameter is required, may come by
// position or by keyword, and must be a str.
struct Signature {
  const char* function;  // display name in argument errors, e.g. "VYRL.find_key()"
  std::span<const char* const> parameters;
};

// Matches a vectorcall argument list against `signature`, filling `bound` (one
// borrowed slot per parameter). On a mismatch sets TypeError and returns false.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** bound);

// The same rules for a call that arrives as a tuple and a dict (the
// constructor), for a signature without parameters.
bool bind_no_arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

void raise_not_str(const char* parameter, PyObject* argument);

// The UTF-8 text of a str argument, borrowed from the str itself (embedded NULs
// included). A non-str raises TypeError naming `parameter`; a str the codec
// cannot encode (lone surrogates) keeps the codec's own error.
inline std::optional<std::string_view> text_argument(const char* parameter, PyObject* argument) {
  if (!PyUnicode_Check(argument)) {
    raise_not_str(parameter, argument);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// --- Thread binding. ---

// A process-wide unique number per thread. Unlike the system's thread handle it
// is never handed to a later thread, so a document made by a thread that has
// since ended stays foreign to every other thread.
using ThreadId = std::uint64_t;
ThreadId current_thread() noexcept;

// PanicException: made once, before the first instance can exist.
bool create_panic_exception();
void raise_foreign_call();
// Reports through the unraisable hook that an instance died away from its
// owner; `context` is what the hook is told the failure happened in.
void report_foreign_drop(PyObject* context);

// --- Borrow flag. ---

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

void raise_borrow_conflict(Access wanted);

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
      raise_borrow_conflict(access);
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

// --- Errors from the core. ---

// Raises RuntimeError carrying the error's display text; always returns null so
// callers can `return to_py(error);`.
PyObject* to_py(const VyrlError& error);

}  // namespace vyrl::python
