// Reading and serializing one record through a compiled schema, shared by the single-record
// functions and the object path of the batch functions.
#pragma once

#include <Python.h>

#include "engine/field_keys.hpp"
#include "engine/record_output.hpp"
#include "engine/record_shape.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::native {

// One call's serializer of records: the schema's keys, the record being assembled, and the
// attribute reads of object records.
struct RecordSerializer {
    explicit RecordSerializer(const engine::CompiledSchema& schema)
        : schema(schema),
          shape(engine::record_shape(schema)),
          keys(schema.descriptors, shape.keys),
          output(schema) {}
    RecordSerializer(const RecordSerializer&) = delete;
    RecordSerializer& operator=(const RecordSerializer&) = delete;

    // The serialized record as a new dict, keys in ascending name order.
    frame::Ref serialize(PyObject* record);

    const engine::CompiledSchema& schema;
    engine::RecordShape& shape;
    engine::FieldKeys keys;
    engine::RecordOutput output;
};

}  // namespace sorvel::native
