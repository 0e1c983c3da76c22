// Owned Python references. Every strong reference the library keeps lives in a Ref, so that an
// early return or a C++ exception can never leak or double-release an object.
#pragma once

#include <Python.h>

#include <utility>

namespace sorvel::frame {

// How many frame entries are active on this thread while it is attached to the interpreter.
// Initial-exec TLS: it is read on every reference release, and the general dynamic model would
// cost a call each time; the few bytes fit the static TLS reserve of a dlopen.
[[gnu::tls_model("initial-exec")]] extern thread_local int attach_count;

// Queues a reference dropped by a thread that is not attached, for the next thread that enters.
[[gnu::noinline]] void defer_release(PyObject* object) noexcept;

// Releases a reference now if this thread is attached to the interpreter, else defers it.
inline void release_reference(PyObject* object) noexcept {
    if (attach_count > 0) [[likely]] {
        Py_DECREF(object);
    } else {
        defer_release(object);
    }
}

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
