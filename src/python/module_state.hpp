#pragma once

#include <Python.h>

namespace vyrl::python {

// What one vyr_rs module object owns. Every interpreter that imports the
// module gets its own, so no Python object is shared between interpreters.
struct ModuleState {
  PyTypeObject* vyrl_type;
  PyObject* panic_exception;
};

extern PyModuleDef module_def;

// The state of the module that made `type` (the VYRL class of some interpreter).
inline ModuleState* state_of(PyTypeObject* type) noexcept {
  return static_cast<ModuleState*>(PyType_GetModuleState(type));
}

// The class's slots and methods, for the module to build the type from.
extern PyType_Spec vyrl_spec;
bool bind_static_methods(PyTypeObject* type);

}  // namespace vyrl::python
