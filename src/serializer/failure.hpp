// Why a value could not be written, and where. A failure travels as a C++ exception up to the
// row that was being written, collecting the path of keys on the way ("author.name",
// "tags[2]"), and is raised there as the serializer's error: "row 17, field 'price': ...".
#pragma once

#include <Python.h>

#include <string>

#include "frame/error.hpp"
#include "frame/ref.hpp"

namespace sorvel::serializer {

struct Plan;

struct Failure {
    std::string path;    // keys inside the row, outermost first
    std::string reason;  // what is wrong with the value
    frame::Ref cause;    // the Python exception behind it, if any
};

[[noreturn]] void fail(std::string reason);
// A Python exception raised by code the column runs (a computed field, a hook, str()).
[[noreturn]] void fail_python(frame::PythonError& error);
// The pending Python exception, as fail_python.
[[noreturn]] void fail_fetched();

// Puts a key or an item index in front of the failure's path.
void prefix_key(Failure& failure, PyObject* key);
void prefix_index(Failure& failure, Py_ssize_t index);

// Raises plan.error_class(message, row, field); `row` < 0 means a single instance (no row).
[[noreturn]] void raise_failure(const Plan& plan, Py_ssize_t row, Failure& failure);

// The __qualname__ of the value's type, for "expected a date, got str".
std::string type_name(PyObject* value);

}  // namespace sorvel::serializer
