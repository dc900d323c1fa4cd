#include "ownership.hpp"

#include <atomic>

namespace vyrl::python {
namespace {

constexpr const char* kForeignCallFormat = "%s is unsendable, but sent to another thread";
constexpr const char* kForeignDropFormat = "%s is unsendable, but is being dropped on another thread";
constexpr const char* kPanicName = "vyr_rs.PanicException";
constexpr const char* kPanicDoc =
    "Raised when a vyr_rs object is used in a way its internal checks forbid, such as from a thread "
    "other than the one that created it.\n\nDerives from BaseException so that `except Exception` does "
    "not swallow it.";

// Counts the end of a numbered thread: made when the thread is given its
// number, destroyed as it exits, before its handle can go to another thread.
struct EndCounter {
  EndCounter() = default;
  EndCounter(const EndCounter&) = delete;
  EndCounter& operator=(const EndCounter&) = delete;
  ~EndCounter() { numbered_thread_ends.fetch_add(1, std::memory_order_relaxed); }
};

void count_fork_in_child() { numbered_thread_ends.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

ThreadId current_thread() noexcept {
  static std::atomic<ThreadId> next_id{1};
  thread_local ThreadId id = 0;
  if (id == 0) {
    thread_local EndCounter end_counter;
    id = next_id.fetch_add(1, std::memory_order_relaxed);
  }
  return id;
}

Owner Owner::current() noexcept {
  // The child of a fork has only the thread that forked, and a thread it
  // starts may get the handle of one that was not copied: the fork counts as
  // their end. Without that count no handle can be trusted, so each document
  // is then taken as made before an end, and its number is always read.
  static const bool forks_counted = pthread_atfork(nullptr, nullptr, count_fork_in_child) == 0;
  const ThreadId id = current_thread();
  const std::uint64_t ends = numbered_thread_ends.load(std::memory_order_relaxed);
  return Owner{id, pthread_self(), forks_counted ? ends : ends - 1};
}

PyObject* new_panic_exception() {
  return PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
}

void raise_foreign_call(PyObject* panic) { PyErr_Format(panic, kForeignCallFormat, kInternalTypeName); }

void report_foreign_drop(PyObject* context) {
  // A deallocation can run while another exception is being raised; that one
  // must survive the report.
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* pending = PyErr_GetRaisedException();
#else
  PyObject *pending_type = nullptr, *pending_value = nullptr, *pending_traceback = nullptr;
  PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
#endif
  PyErr_Format(PyExc_RuntimeError, kForeignDropFormat, kInternalTypeName);
  PyErr_WriteUnraisable(context);
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(pending);
#else
  PyErr_Restore(pending_type, pending_value, pending_traceback);
#endif
}

}  // namespace vyrl::python
