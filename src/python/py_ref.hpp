#pragma once

#include <Python.h>

#include <utility>

namespace vyrl::python {

// One strong reference, released when the handle goes out of scope, so that an
// early return on an error path cannot leak what was built so far.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (the result of a call that returns one); null is
  // allowed and means the call failed with an exception set.
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Adds a reference to an object borrowed from elsewhere.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller, typically as a function's return value.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace vyrl::python
