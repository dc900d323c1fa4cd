#pragma once

#include <Python.h>

#include <utility>

#include "vyrl/options.hpp"

namespace vyrl::python {

// Opening or reading a file can block (a FIFO whose writer is another Python
// thread, a slow disk); the interpreter is let go around those system calls,
// and only those, so that other threads and the collector can run meanwhile.
class ReleaseInterpreter final : public BlockingCalls {
 public:
  void enter() noexcept override { saved_ = PyEval_SaveThread(); }
  void leave() noexcept override { PyEval_RestoreThread(std::exchange(saved_, nullptr)); }
  // With the interpreter held again, its handlers run; one that raises
  // (KeyboardInterrupt) ends the read, and the exception it set is what the
  // call raises.
  bool resume_after_signal() noexcept override { return PyErr_CheckSignals() == 0; }

 private:
  // One blocking call at a time per thread; a thread's own slot keeps threads apart.
  static inline thread_local PyThreadState* saved_ = nullptr;
};

// Holds no state of its own: one serves every document of a module.
inline ReleaseInterpreter release_interpreter;

}  // namespace vyrl::python
