#include "engine/python_calls.hpp"

#include "engine/python_names.hpp"
#include "frame/error.hpp"

namespace sorvel::engine {

using frame::checked;
using frame::Ref;

Ref import_module(PyObject* name) { return checked(PyImport_Import(name)); }

Ref call_str(PyObject* value) { return checked(PyObject_Str(value)); }

Ref call_isoformat(PyObject* value) {
    return checked(PyObject_CallMethodNoArgs(value, names::isoformat()));
}

Ref call_json_dumps(PyObject* value) {
    Ref json = import_module(names::json());
    return checked(PyObject_CallMethodOneArg(json.get(), names::dumps(), value));
}

Ref call_b64encode(PyObject* value) {
    Ref base64 = import_module(names::base64());
    Ref encoded = checked(PyObject_CallMethodOneArg(base64.get(), names::b64encode(), value));
    return checked(PyObject_CallMethodOneArg(encoded.get(), names::decode(), names::ascii()));
}

}  // namespace sorvel::engine
