// Attribute names looked up on every module build or error, interned once per process.
#pragma once

#include <Python.h>

namespace sorvel::frame::interned {

PyObject* dunder_name();  // "__name__"
PyObject* dunder_all();   // "__all__"
PyObject* add_note();     // "add_note"

}  // namespace sorvel::frame::interned
