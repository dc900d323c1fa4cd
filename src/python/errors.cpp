#include "errors.hpp"

#include <string>

#include "py_ref.hpp"
#include "vyrl/diagnostics.hpp"

namespace vyrl::python {
namespace {

PyRef new_text(const std::string& text) {
  // Sized and forgiving, so a NUL inside a quoted key survives and a stray
  // byte cannot hide the rest of the text.
  return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// Notes leave str(error) as it is: only tracebacks and tools that ask for
// __notes__ see them.
bool add_notes(PyObject* exception, const VyrlError& error) {
  for (const std::string& note : describe_location(error)) {
    const PyRef text = new_text(note);
    if (!text) return false;
    const PyRef done = PyRef::steal(PyObject_CallMethod(exception, "add_note", "O", text.get()));
    if (!done) return false;
  }
  return true;
}

}  // namespace

PyObject* to_py(const VyrlError& error) {
  // A signal handler that raised while a file was read (KeyboardInterrupt)
  // ended the load; its exception is the one to see, not the read's EINTR.
  if (PyErr_Occurred() != nullptr) return nullptr;
  const PyRef text = new_text(error.message());
  if (!text) return nullptr;
  const PyRef exception = PyRef::steal(PyObject_CallOneArg(PyExc_RuntimeError, text.get()));
  if (!exception || !add_notes(exception.get(), error)) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, exception.get());
  return nullptr;
}

}  // namespace vyrl::python
