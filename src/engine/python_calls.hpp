// The few Python calls that reading and converting values make: text forms through str() and
// isoformat(), JSON text through the json module, base64 through the base64 module.
#pragma once

#include <Python.h>

#include <string_view>

#include "frame/ref.hpp"

namespace sorvel::engine {

// The module of that name (an interned str, see python_names.hpp) through the interpreter's
// import machinery.
frame::Ref import_module(PyObject* name);
// str(value); the interpreter's exception on failure.
frame::Ref call_str(PyObject* value);
// value.isoformat(); the interpreter's exception on failure.
frame::Ref call_isoformat(PyObject* value);
// json.dumps(value), importing json anew (the interpreter's module cache makes it cheap).
frame::Ref call_json_dumps(PyObject* value);
// base64.b64encode(value).decode("ascii").
frame::Ref call_b64encode(PyObject* value);

}  // namespace sorvel::engine
