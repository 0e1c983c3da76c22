// Attribute names looked up on every module build or error, interned once per process.
#pragma once

#include <Python.h>

#include "frame/once.hpp"

namespace sorvel::frame::interned {

// The interned str `text`, made in `cell` on first need and kept for the process.
PyObject* get(Once<PyObject*>& cell, const char* text);

PyObject* dunder_name();  // "__name__"
PyObject* dunder_all();   // "__all__"
PyObject* add_note();     // "add_note"

}  // namespace sorvel::frame::interned
