// Reading and serializing one record through a compiled schema, shared by the single-record
// functions and the object path of the batch functions.
#pragma once

#include <Python.h>

#include "engine/field_keys.hpp"
#include "engine/record_output.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::native {

// The serialized record as a new dict, keys in ascending name order. `output` was made for the
// same schema and keys.
frame::Ref serialize_record(PyObject* record, const engine::CompiledSchema& schema,
                            engine::FieldKeys& keys, engine::RecordOutput& output);

}  // namespace sorvel::native
