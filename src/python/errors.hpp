#pragma once

#include <Python.h>

#include "vyrl/error.hpp"

namespace vyrl::python {

// Raises RuntimeError carrying the error's display text, with where it
// happened attached as notes; always returns null so callers can
// `return to_py(error);`.
PyObject* to_py(const VyrlError& error);

}  // namespace vyrl::python
