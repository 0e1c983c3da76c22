// One serialization call's writer: the engine's view of the fields (made once per schema, or
// once per call for descriptor dicts), the call's Python key objects and the record being
// assembled.
#pragma once

#include <Python.h>

#include "django/field_type.hpp"
#include "django/value_reader.hpp"
#include "engine/field_keys.hpp"
#include "engine/record_output.hpp"
#include "engine/record_shape.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::django {

class RecordWriter {
  public:
    explicit RecordWriter(const engine::CompiledSchema& core)
        : shape_(engine::record_shape(core)), keys_(core.descriptors, shape_.keys), output_(core) {}
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // The Python str of field `i`'s name, for lookups and output alike.
    PyObject* key(size_t i) { return keys_.key(i); }
    // getattr(instance, <field i's name>), exactly as PyObject_GetAttr answers it.
    frame::Ref attribute(PyObject* instance, size_t i) {
        return shape_.attributes.read(instance, i);
    }

    // The instance's attributes read in a row, while no Python code runs (AttributeReader::Row).
    frame::AttributeReader::Row row(PyObject* instance) const {
        return shape_.attributes.row(instance);
    }

    // Asks for what the attribute reads of `instance` will find to be brought into the cache.
    void prefetch(PyObject* instance) const { shape_.attributes.prefetch(instance); }

    // Starts a record; each field is then given once, in declaration order.
    void begin() { output_.begin(); }
    // Field `i` has no value (a failed lookup): null where the field may be null, else the
    // "null not allowed" error.
    void put_missing(size_t i, const DjangoFieldDescriptor& d);
    // Field `i` holds the present `value`, when it passes through as it is: stored, and true.
    // Runs no Python code.
    bool put_passing(size_t i, PyObject* value) { return output_.put_passing(i, value); }
    // Field `i` holds `value` (None included), read as read_django_value reads it.
    void put(size_t i, PyObject* value, const DjangoFieldDescriptor& d) {
        if (value == Py_None) return output_.put_none(i);
        output_.put(i, value, [&](PyObject* present) { return read_django_value(present, d); });
    }

    // The record as a new dict, keys in ascending name order. An engine error is reported for
    // the record as a whole ("<batch>").
    frame::Ref finish();

  private:
    engine::RecordShape& shape_;
    engine::FieldKeys keys_;
    engine::RecordOutput output_;
};

}  // namespace sorvel::django
