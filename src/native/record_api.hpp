// Reading and serializing one record through a compiled schema, shared by the single-record
// functions and the object path of the batch functions.
#pragma once

#include <Python.h>

#include <vector>

#include "engine/field_keys.hpp"
#include "engine/field_value.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::native {

// Every field of `record` in declaration order; the first failure is raised.
std::vector<engine::FieldValue> read_record(PyObject* record, const engine::CompiledSchema& schema,
                                            engine::FieldKeys& keys);

// The serialized record as a new dict, keys in ascending name order.
frame::Ref serialize_record(PyObject* record, const engine::CompiledSchema& schema,
                            engine::FieldKeys& keys);

}  // namespace sorvel::native
