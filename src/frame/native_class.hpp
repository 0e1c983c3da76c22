// Native classes: heap types created once per process from a type spec, whose instances are the
// object header followed by an immutable C++ payload. Also the adaptors that put every function,
// method and constructor behind the call entry.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "frame/arguments.hpp"
#include "frame/convert.hpp"
#include "frame/entry.hpp"
#include "frame/once.hpp"

namespace sorvel::frame {

template <class T>
struct Instance {
    PyObject_HEAD T payload;
};

template <class T>
const T& payload_of(PyObject* self) {
    return reinterpret_cast<Instance<T>*>(self)->payload;
}

// The bare class name of a spec name. Specs name their classes "builtins.<Class>": the classes
// read as built-ins (__module__ "builtins"), and a name without a module part is deprecated.
const char* class_name(const char* dotted);

// The class's type object, created from `spec` on first use; a failure is RuntimeError
// "An error occurred while initializing class <Class>" caused by the interpreter's error.
PyTypeObject* class_type(Once<PyTypeObject*>& cell, PyType_Spec& spec);

// The payload of an instance of `type` (or a subtype), else the frame's conversion error.
template <class T>
const T& as_instance(PyObject* object, PyTypeObject* type) {
    if (!PyObject_TypeCheck(object, type)) throw_not_instance(object, class_name(type->tp_name));
    return payload_of<T>(object);
}

template <class T>
Ref create_instance(PyTypeObject* type, T&& payload) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) throw_fetched();
    new (&reinterpret_cast<Instance<T>*>(self)->payload) T(std::move(payload));
    return Ref::steal(self);
}

template <class T>
void dealloc(PyObject* self) {
    enter_unraisable(self, [self] { reinterpret_cast<Instance<T>*>(self)->payload.~T(); });
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

template <class T, const ArgumentSpec& Spec, T (*Build)(PyObject* const* slots)>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return enter([&] {
        PyObject* slots[kMaxParameters];
        extract(Spec, args, kwargs, slots);
        return create_instance<T>(type, Build(slots));
    });
}

using Body = Ref (*)(PyObject* self, PyObject* const* slots);

template <const ArgumentSpec& Spec, Body Run>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return enter([&] {
        // Every parameter given by position, the usual call: the arguments are the slots.
        if (kwnames == nullptr && Spec.keyword_only.empty() &&
            size_t(nargs) == Spec.positional.size()) {
            return Run(self, args);
        }
        PyObject* slots[kMaxParameters];
        extract(Spec, args, nargs, kwnames, slots);
        return Run(self, slots);
    });
}

template <Ref (*Run)(PyObject* self)>
PyObject* noargs(PyObject* self, PyObject*) {
    return enter([&] { return Run(self); });
}

template <Ref (*Run)(PyObject* self)>
PyObject* getter(PyObject* self, void*) {
    return enter([&] { return Run(self); });
}

template <Ref (*Run)(PyObject* self)>
PyObject* unary_slot(PyObject* self) {
    return enter([&] { return Run(self); });
}

template <Py_ssize_t (*Run)(PyObject* self)>
Py_ssize_t length_slot(PyObject* self) {
    return enter_size([&] { return Run(self); });
}

// The method-table entry for a vector-call function with keywords.
template <auto Function>
constexpr PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

}  // namespace sorvel::frame
