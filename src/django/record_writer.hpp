// One serialization call's writer: the engine's view of the fields (made once per schema, or
// once per call for descriptor dicts) and the call's Python key objects.
#pragma once

#include <Python.h>

#include <vector>

#include "engine/field_keys.hpp"
#include "engine/field_value.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::django {

class RecordWriter {
  public:
    explicit RecordWriter(const engine::CompiledSchema& core)
        : core_(core), keys_(core.descriptors) {}
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // The Python str of field `i`'s name, for lookups and output alike.
    PyObject* key(size_t i) { return keys_.key(i); }

    // One record's values (one per descriptor) as a new dict, keys in ascending name order. An
    // engine error is reported for the record as a whole ("<batch>").
    frame::Ref to_dict(std::vector<engine::FieldValue>&& values);

  private:
    const engine::CompiledSchema& core_;
    engine::FieldKeys keys_;
};

}  // namespace sorvel::django
