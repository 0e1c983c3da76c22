// The Python class Schema: a dict of Fields compiled once into engine descriptors.
#pragma once

#include <Python.h>

#include "engine/schema.hpp"

namespace sorvel::native {

PyTypeObject* schema_type();

// The compiled schema of a `schema` argument, or the frame's conversion error.
const engine::CompiledSchema& as_schema(PyObject* object);

}  // namespace sorvel::native
