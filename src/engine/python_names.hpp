// Python names the engine looks up on every record, interned once per process.
#pragma once

#include <Python.h>

namespace sorvel::engine::names {

PyObject* isoformat();
PyObject* dunder_str();
PyObject* dumps();
PyObject* b64encode();
PyObject* decode();
PyObject* ascii();
PyObject* utcoffset();
PyObject* int_();
PyObject* Decimal();
// Module names.
PyObject* json();
PyObject* base64();
PyObject* uuid();
PyObject* decimal();

}  // namespace sorvel::engine::names
