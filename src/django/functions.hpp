// Method records of module sorvel_django, one per function, each defined beside its function.
#pragma once

#include <Python.h>

namespace sorvel::django {

extern PyMethodDef serialize_instance_def, serialize_batch_def, serialize_values_list_def,
    validate_instance_def, extract_model_fields_def, serialize_fields_def, validate_fields_def,
    version_def;

}  // namespace sorvel::django
