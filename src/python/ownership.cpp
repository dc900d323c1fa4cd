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

}  // namespace

ThreadId current_thread() noexcept {
  static std::atomic<ThreadId> next_id{1};
  thread_local ThreadId id = 0;
  if (id == 0) id = next_id.fetch_add(1, std::memory_order_relaxed);
  return id;
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
