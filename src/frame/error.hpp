// PythonError: the error value that ends a call. It is either lazy (an exception type and a
// message; no Python object is made until it is raised or inspected) or normalised (a fetched
// exception instance with its traceback). It travels as a C++ exception up to the call entry,
// which raises it.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

#include "frame/ref.hpp"

namespace sorvel::frame {

class PythonError {
  public:
    // A lazy error; `type` is a built-in exception class or another process-wide class.
    PythonError(PyObject* type, std::string message) : type_(type), message_(std::move(message)) {}

    // Takes the interpreter's pending exception. With none pending the result is SystemError;
    // a PanicException coming back from Python code resumes the fault instead (throws Fault).
    static PythonError fetch();

    // The exception instance, creating it from a lazy error on first use.
    PyObject* instance();
    // Whether the exception is an instance of `type` (or of a subclass).
    bool is(PyObject* type);
    // Adds a PEP 678 note; a failure to add it is dropped.
    void add_note(std::string_view note);
    // Sets the exception as the interpreter's pending exception; the error is consumed.
    void restore() &&;

  private:
    explicit PythonError(Ref instance) : instance_(std::move(instance)) {}

    PyObject* type_ = nullptr;  // lazy form
    std::string message_;
    Ref instance_;  // normalised form
};

// Throws the interpreter's pending exception as a PythonError.
[[noreturn]] void throw_fetched();

// The new reference a C-API call returns; a null one ends the call with the pending exception.
inline Ref checked(PyObject* result) {
    if (result == nullptr) throw_fetched();
    return Ref::steal(result);
}
[[noreturn]] void throw_type_error(std::string message);
[[noreturn]] void throw_value_error(std::string message);

// Drops the pending exception for a rule that ignores failures. A PanicException coming back
// from Python code is never dropped: the fault resumes (throws Fault).
void discard_error();

// "<qualname>: <str>" of an error, for use inside messages.
std::string error_text(PythonError& error);
// str(object) as UTF-8 text, for use inside messages; never fails.
std::string object_text(PyObject* object);
// The __qualname__ of the object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

}  // namespace sorvel::frame
