// The Python side of a compiled schema, made once per schema on its first serialization and
// reused by every later call: the interned key objects, each field's output form, the template
// of the result dicts and the attribute reads of object records. A call that serializes a
// single record (serialize_instance, serialize) would otherwise pay for all of it every time.
//
// It lives as long as the schema and is only touched with the interpreter lock held. Calls may
// nest (a value's __str__ can serialize again with the same schema): nothing here belongs to
// one call's record, and the attribute reads check the class and every key on each read.
#pragma once

#include <Python.h>

#include <vector>

#include "engine/direct_output.hpp"
#include "engine/schema.hpp"
#include "frame/attribute_reader.hpp"
#include "frame/dict_template.hpp"
#include "frame/ref.hpp"

namespace sorvel::engine {

struct RecordShape {
    explicit RecordShape(const CompiledSchema& schema);
    RecordShape(const RecordShape&) = delete;
    RecordShape& operator=(const RecordShape&) = delete;

    std::vector<frame::Ref> keys;  // interned field names, declaration order
    std::vector<OutputForm> forms;
    frame::DictTemplate dicts;  // keys in output order
    // Per field, in declaration order: its key's place in the dicts, or -1 for a field whose
    // name a later field reuses (its value is dropped).
    std::vector<int32_t> places;
    frame::AttributeReader attributes;
};

// The schema's shape, made on first use.
RecordShape& record_shape(const CompiledSchema& schema);

}  // namespace sorvel::engine
