// Owned Python references. Every strong reference the library keeps lives in a Ref, so that an
// early return or a C++ exception can never leak or double-release an object.
#pragma once

#include <Python.h>

#include <utility>

namespace sorvel::frame {

// Releases a reference now if this thread is attached to the interpreter, or queues it for the
// next thread that enters the frame otherwise.
void release_reference(PyObject* object) noexcept;

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() {
        if (object_ != nullptr) release_reference(object_);
    }

    // Takes over a new reference (may be null).
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    // Adds a reference to a borrowed object (may be null).
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller (the interpreter, usually).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace sorvel::frame
