// The Python class ModelSchema: a Django model's fields read once, at start-up.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "django/field_type.hpp"
#include "engine/schema.hpp"

namespace sorvel::django {

struct ModelSchema {
    std::vector<DjangoFieldDescriptor> descriptors;
    std::string model_name;
    engine::CompiledSchema core;  // the engine's view of the fields, made once
};

PyTypeObject* model_schema_type();

// The schema of a `schema` argument, or the frame's conversion error.
const ModelSchema& as_model_schema(PyObject* object);

}  // namespace sorvel::django
