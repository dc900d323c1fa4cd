// The vyr_rs extension module: one class, VYRL, made anew for every module
// object, as CPython's own multi-phase modules do, so that sub-interpreters
// never share (or free) each other's type objects.

#include <Python.h>

#include <exception>
#include <new>

#include "module_state.hpp"
#include "ownership.hpp"
#include "py_ref.hpp"
#include "vyrl/version.hpp"

namespace vyrl::python {
namespace {

constexpr const char* kNotAModuleFormat = "vyr_rs can only be executed into a module, not into '%s'";
constexpr const char* kAllNotAList = "vyr_rs.__all__ must be a list";
constexpr const char* kModuleName = "vyr_rs";

constexpr const char* kModuleDoc =
    "Python extension-module entry point of the VYRL configuration library; it exists only when the "
    "library is built with its Python option.\n"
    "\n"
    "In Python: `from vyr_rs import VYRL`";

// The class is called by the bare name "VYRL", which interpreter messages
// quote ("'VYRL' object is not iterable"). A bare name in PyType_Spec leaves __module__
// unset, and the interpreter would warn about a class without one unless
// __module__ is already in its dict when it looks; this placeholder member is,
// and create_vyrl_type replaces it with the module's name at once.
PyTypeObject* create_vyrl_type(PyObject* module) {
  auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &vyrl_spec, nullptr));
  if (type == nullptr) return nullptr;
  const PyRef name = PyRef::steal(PyUnicode_FromString(kModuleName));
  if (!name || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__module__", name.get()) < 0 ||
      !bind_static_methods(type)) {
    Py_DECREF(type);
    return nullptr;
  }
  return type;
}

// Sets `name` on the module and lists it in __all__ (made on first use).
bool add_export(PyObject* module, const char* name, PyObject* value) {
  const PyRef all_name = PyRef::steal(PyUnicode_InternFromString("__all__"));
  if (!all_name) return false;
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name.get(), all.get()) < 0) return false;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, kAllNotAList);
    return false;
  }
  const PyRef py_name = PyRef::steal(PyUnicode_InternFromString(name));
  if (!py_name || PyList_Append(all.get(), py_name.get()) < 0) return false;
  return PyObject_SetAttr(module, py_name.get(), value) == 0;
}

bool register_module(PyObject* module) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state->panic_exception == nullptr) {
    state->panic_exception = new_panic_exception();
    if (state->panic_exception == nullptr) return false;
  }
  if (state->vyrl_type == nullptr) {
    state->vyrl_type = create_vyrl_type(module);
    if (state->vyrl_type == nullptr) return false;
  }
  if (!add_export(module, "VYRL", reinterpret_cast<PyObject*>(state->vyrl_type))) return false;
  const PyRef version = PyRef::steal(PyUnicode_FromString(VYRL_VERSION));
  return version && add_export(module, "__version__", version.get());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, kNotAModuleFormat, Py_TYPE(module)->tp_name);
    return -1;
  }
  try {
    return register_module(module) ? 0 : -1;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return -1;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state != nullptr) {
    Py_VISIT(state->vyrl_type);
    Py_VISIT(state->panic_exception);
  }
  return 0;
}

int clear_module(PyObject* module) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state != nullptr) {
    Py_CLEAR(state->vyrl_type);
    Py_CLEAR(state->panic_exception);
  }
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

}  // namespace

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, kModuleName,     kModuleDoc,   sizeof(ModuleState), nullptr, module_slots,
    traverse_module,       clear_module,    free_module,
};

}  // namespace vyrl::python

PyMODINIT_FUNC PyInit_vyr_rs(void) { return PyModuleDef_Init(&vyrl::python::module_def); }
