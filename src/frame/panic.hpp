// PanicException: the one class through which internal faults reach Python code.
#pragma once

#include <Python.h>

#include <string>

namespace sorvel::frame {

// The process-wide PanicException class (created on first need, never freed).
PyObject* panic_type();

// Sets PanicException(message) as the pending exception.
void raise_panic(const std::string& message) noexcept;

// Ends the process when a fault cannot be reported to the interpreter.
[[noreturn]] void abort_uncaught() noexcept;

}  // namespace sorvel::frame
