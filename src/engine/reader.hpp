// Reading one field of a Python record (a dict or any object) into a FieldValue.
#pragma once

#include <Python.h>

#include "engine/field_kind.hpp"
#include "engine/field_value.hpp"

namespace sorvel::engine {

// `key` is the field's name as a Python str (made once per call by the caller). A missing or
// None value is Null when the field is nullable or has a default, else "required but was null";
// a value of the wrong type raises the interpreter's or the engine's TypeError.
FieldValue read_field_value(PyObject* record, const FieldDescriptor& descriptor, PyObject* key);

// The conversion by kind of a value that is present and not None.
FieldValue convert_field_value(PyObject* value, const FieldDescriptor& descriptor);

// The bytes of a bytes or bytearray object, or of a sequence of ints 0..255; a str is refused.
Bytes read_bytes(PyObject* value);

}  // namespace sorvel::engine
