#include "frame/panic.hpp"

#include <cstdio>
#include <cstdlib>

#include "frame/fault.hpp"
#include "frame/once.hpp"

namespace sorvel::frame {
namespace {

constexpr const char* kPanicDoc =
    "The exception raised when native code of the sorvel extension faults while called from "
    "Python.\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException, so that it typically\n"
    "propagates all the way through the stack and causes the interpreter to exit.";

Once<PyObject*> panic_class;

}  // namespace

PyObject* panic_type() {
    return panic_class.get([] {
        PyObject* type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                                   PyExc_BaseException, nullptr);
        if (type == nullptr) {
            PyErr_WriteUnraisable(nullptr);
            fault("Failed to initialize new exception type.");
        }
        return type;
    });
}

void raise_panic(const std::string& message) noexcept {
    try {
        PyObject* text = PyUnicode_FromStringAndSize(message.data(), Py_ssize_t(message.size()));
        if (text == nullptr) abort_uncaught();
        PyErr_SetObject(panic_type(), text);
        Py_DECREF(text);
    } catch (...) {
        abort_uncaught();
    }
}

void abort_uncaught() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace sorvel::frame
