#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <string_view>

namespace vyrl::python {

// What a named method accepts: every parameter is required, may come by
// position or by keyword, and must be a str.
struct Signature {
  const char* function;  // display name in argument errors, e.g. "VYRL.find_key()"
  std::span<const char* const> parameters;
};

// The general matching, keywords and every error included; see bind_arguments.
bool bind_any_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject** bound);

// Matches a vectorcall argument list against `signature`, filling `bound` (one
// borrowed slot per parameter). On a mismatch sets TypeError and returns false.
// Nearly every call passes each parameter by position, which needs no more
// than a copy, so that case is decided here, inline.
inline bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject** bound) {
  const auto count = static_cast<Py_ssize_t>(signature.parameters.size());
  if (kwnames == nullptr && PyVectorcall_NARGS(nargs) == count) [[likely]] {
    for (Py_ssize_t i = 0; i < count; ++i) bound[i] = args[i];
    return true;
  }
  return bind_any_arguments(signature, args, nargs, kwnames, bound);
}

// The same rules for a call that arrives as a tuple and a dict (the
// constructor), for a signature without parameters.
bool bind_no_arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

void raise_not_str(const char* parameter, PyObject* argument);

// The UTF-8 text of a str argument, borrowed from the str itself (embedded NULs
// included), so no copy is made. A non-str raises TypeError naming
// `parameter`; a str the codec cannot encode (lone surrogates) keeps the
// codec's own error.
inline std::optional<std::string_view> text_argument(const char* parameter, PyObject* argument) {
  if (!PyUnicode_Check(argument)) [[unlikely]] {
    raise_not_str(parameter, argument);
    return std::nullopt;
  }
  // An ASCII str keeps its characters as they are in UTF-8, right after its
  // header: nothing to convert, and no call to find them.
  if (PyUnicode_IS_COMPACT_ASCII(argument)) [[likely]] {
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(argument)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(argument)));
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace vyrl::python
