#pragma once

#include <Python.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace vyrl::python {

// The name the thread-binding messages give the class, whatever the
// interpreter calls it.
inline constexpr const char* kInternalTypeName = "vyr_rs::python::PyVYRL";

// A process-wide unique number per thread. Unlike the system's thread handle it
// is never handed to a later thread, so a document made by a thread that has
// since ended stays foreign to every other thread.
using ThreadId = std::uint64_t;
ThreadId current_thread() noexcept;

// How many threads that were given a number have ended, counting a fork as
// the end of every thread the child does not have.
inline std::atomic<std::uint64_t> numbered_thread_ends{0};

// The thread that made a document. Its number decides; but reading a thread's
// own number costs a call into the dynamic loader on every call of every
// method, a good part of a doc[key]. The thread's handle is one instruction
// away instead, and is never shared by two threads alive at once, though a
// later thread may get an ended one's. So while no numbered thread has ended
// since the document was made, its owner is alive and the handle alone
// answers; after that the number is read again.
struct Owner {
  ThreadId id;
  pthread_t handle;
  std::uint64_t ends_before;  // numbered_thread_ends when the document was made

  static Owner current() noexcept;

  bool is_current() const noexcept {
    // An owner that is alive keeps its handle, and one that ended calls
    // nothing: another handle is always another thread.
    if (pthread_equal(pthread_self(), handle) == 0) return false;
    // Relaxed is enough: a thread that got an ended thread's handle was
    // started after that end was counted, and its start saw the count.
    if (numbered_thread_ends.load(std::memory_order_relaxed) == ends_before) return true;
    return current_thread() == id;
  }
};

// PanicException for one module object; derives from BaseException so that
// `except Exception` does not swallow it.
PyObject* new_panic_exception();

// Raises `panic` for a call from a thread that does not own the document.
void raise_foreign_call(PyObject* panic);

// Reports through the unraisable hook that an instance died away from its
// owner; `context` is what the hook is told the failure happened in.
void report_foreign_drop(PyObject* context);

}  // namespace vyrl::python
