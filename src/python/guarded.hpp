#pragma once

#include <Python.h>

#include <exception>
#include <new>

namespace vyrl::python {

// C++ failures (out of memory while copying text) must not unwind into the
// interpreter: they become the Python exception, and `on_error` is returned.
template <class Result, class Body>
Result guarded(Result on_error, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return on_error;
}

}  // namespace vyrl::python
