// Building a module in its exec slot: classes first, then functions, each added to the module
// and appended to its __all__.
#pragma once

#include <Python.h>

#include <span>

#include "frame/ref.hpp"

namespace sorvel::frame {

// Appends `name` to the module's __all__ (creating the list when absent) and sets the attribute.
void add_to_module(PyObject* module, PyObject* name, PyObject* value);

// A function bound to the module (its __self__), with __module__ the module's name.
void add_function(PyObject* module, PyMethodDef* definition);

// The same, as a module attribute only, not in __all__: for the module's private functions.
void add_private_function(PyObject* module, PyMethodDef* definition);

struct ModuleContents {
    std::span<PyTypeObject* (*const)()> classes;  // type-object getters, in order
    std::span<PyMethodDef* const> functions;      // in order
};

// The whole exec slot: checks the module object, then adds the contents. 0 or -1.
int exec_module(PyObject* module, const ModuleContents& contents);

}  // namespace sorvel::frame
