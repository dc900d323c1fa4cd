#pragma once

#include <Python.h>

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

// PanicException for one module object; derives from BaseException so that
// `except Exception` does not swallow it.
PyObject* new_panic_exception();

// Raises `panic` for a call from a thread that does not own the document.
void raise_foreign_call(PyObject* panic);

// Reports through the unraisable hook that an instance died away from its
// owner; `context` is what the hook is told the failure happened in.
void report_foreign_drop(PyObject* context);

}  // namespace vyrl::python
