// Internal faults: broken invariants, failed allocations and C-API calls that must not fail.
// They travel as C++ exceptions of their own type so that no ordinary error handler can swallow
// them, and the call-entry barrier turns them into PanicException.
#pragma once

#include <Python.h>

#include <string>

namespace sorvel::frame {

class Fault {
  public:
    explicit Fault(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }

  private:
    std::string message_;
};

[[noreturn]] void fault(std::string message);

// For C-API constructors that only fail when the interpreter is out of memory (str, list, dict,
// tuple, float): the pending exception is reported as unraisable and the call faults.
PyObject* must(PyObject* created);

}  // namespace sorvel::frame
