// The call entry: every function, method, constructor, destructor and exec slot enters native
// code through `enter`, which counts the thread as attached, applies deferred releases, and is
// the fault barrier: a PythonError is raised, an internal fault becomes PanicException, and
// nothing else ever unwinds into the interpreter, except the forced unwind with which CPython
// ends a thread that asks for the interpreter lock while the interpreter finalizes: that one
// must pass (swallowing it aborts the process), so the entries are not noexcept.
#pragma once

#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <new>

#include "frame/attach.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/panic.hpp"
#include "frame/recursion.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

namespace detail {

// Turns the exception being handled into the pending Python exception. A second fault while
// doing so stops the process: there is no sound state to return to.
inline void raise_current() noexcept {
    try {
        try {
            throw;
        } catch (PythonError& error) {
            std::move(error).restore();
        } catch (Fault& fault) {
            raise_panic(fault.message().empty() ? "native code faulted without a message"
                                                : fault.message());
        } catch (std::bad_alloc&) {
            raise_panic("native code failed to allocate memory");
        } catch (std::exception& error) {
            raise_panic(error.what());
        }
    } catch (...) {
        abort_uncaught();
    }
}

}  // namespace detail

// Runs `body` (returning a Ref) and hands the new reference to the interpreter, or null with
// an exception set.
template <class Body>
PyObject* enter(Body&& body) {
    Attached attached;
    if (!enter_depth()) return nullptr;
    PyObject* result = nullptr;
    try {
        result = body().release();
    } catch (abi::__forced_unwind&) {
        throw;  // the thread ends, and its interpreter state with it
    } catch (...) {
        detail::raise_current();
    }
    leave_depth();
    return result;
}

// The same for slots that answer 0 / -1.
template <class Body>
int enter_status(Body&& body) {
    Attached attached;
    if (!enter_depth()) return -1;
    int status = -1;
    try {
        body();
        status = 0;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        detail::raise_current();
    }
    leave_depth();
    return status;
}

// The same for slots that answer a size (-1 on error).
template <class Body>
Py_ssize_t enter_size(Body&& body) {
    Attached attached;
    if (!enter_depth()) return -1;
    Py_ssize_t size = -1;
    try {
        size = body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        detail::raise_current();
    }
    leave_depth();
    return size;
}

// For tp_dealloc: nothing may be raised, so a failure is reported as unraisable. No depth
// check: a release must always run.
template <class Body>
void enter_unraisable(PyObject* object, Body&& body) {
    Attached attached;
    try {
        body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        detail::raise_current();
        PyErr_WriteUnraisable(object);
    }
}

}  // namespace sorvel::frame
