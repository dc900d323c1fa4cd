#include "arguments.hpp"

#include <string>

#include "py_ref.hpp"

namespace vyrl::python {
namespace {

constexpr const char* kStrTypeName = "str";
constexpr const char* kNotStrFormat = "argument '%s': '%U' object is not an instance of '%s'";
constexpr const char* kNoneNotStrFormat = "argument '%s': 'None' is not an instance of '%s'";
constexpr const char* kUnexpectedKeywordFormat = "%s got an unexpected keyword argument '%U'";
constexpr const char* kMultipleValuesFormat = "%s got multiple values for argument '%s'";

void raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
  const std::string message = std::string(signature.function) + " takes " +
                              std::to_string(signature.parameters.size()) +
                              " positional arguments but " + std::to_string(given) +
                              (given == 1 ? " was" : " were") + " given";
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

void raise_missing(const Signature& signature, std::span<PyObject* const> bound) {
  std::size_t count = 0;
  for (PyObject* argument : bound) count += argument == nullptr ? 1 : 0;
  std::string message = std::string(signature.function) + " missing " + std::to_string(count) +
                        " required positional " + (count == 1 ? "argument" : "arguments") + ": ";
  std::size_t listed = 0;
  for (std::size_t i = 0; i < bound.size(); ++i) {
    if (bound[i] != nullptr) continue;
    if (listed > 0) message += listed + 1 == count ? " and " : ", ";
    message += '\'';
    message += signature.parameters[i];
    message += '\'';
    ++listed;
  }
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

void raise_unexpected_keyword(const Signature& signature, PyObject* name) {
  PyErr_Format(PyExc_TypeError, kUnexpectedKeywordFormat, signature.function, name);
}

// Index of the parameter called `name`, or -1.
Py_ssize_t parameter_index(const Signature& signature, PyObject* name) {
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, signature.parameters[i]) == 0) {
      return static_cast<Py_ssize_t>(i);
    }
  }
  return -1;
}

}  // namespace

bool bind_any_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject** bound) {
  const auto count = static_cast<Py_ssize_t>(signature.parameters.size());
  const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
  if (positional > count) {
    raise_too_many_positional(signature, positional);
    return false;
  }
  for (Py_ssize_t i = 0; i < count; ++i) bound[i] = i < positional ? args[i] : nullptr;

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t index = parameter_index(signature, name);
    if (index < 0) {
      raise_unexpected_keyword(signature, name);
      return false;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, kMultipleValuesFormat, signature.function, signature.parameters[index]);
      return false;
    }
    bound[index] = args[positional + k];
  }

  for (Py_ssize_t i = 0; i < count; ++i) {
    if (bound[i] == nullptr) {
      raise_missing(signature, std::span<PyObject* const>(bound, static_cast<std::size_t>(count)));
      return false;
    }
  }
  return true;
}

bool bind_no_arguments(const Signature& signature, PyObject* args, PyObject* kwargs) {
  const Py_ssize_t positional = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
  if (positional > 0) {
    raise_too_many_positional(signature, positional);
    return false;
  }
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    PyDict_Next(kwargs, &position, &name, &value);
    raise_unexpected_keyword(signature, name);
    return false;
  }
  return true;
}

void raise_not_str(const char* parameter, PyObject* argument) {
  if (argument == Py_None) {
    PyErr_Format(PyExc_TypeError, kNoneNotStrFormat, parameter, kStrTypeName);
    return;
  }
  const PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(argument)));
  if (!type_name) return;
  PyErr_Format(PyExc_TypeError, kNotStrFormat, parameter, type_name.get(), kStrTypeName);
}

}  // namespace vyrl::python
