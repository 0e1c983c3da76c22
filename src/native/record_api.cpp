// validate, serialize and version: one record through a compiled schema.
#include "native/record_api.hpp"
#include "engine/field_keys.hpp"
#include "engine/reader.hpp"
#include "engine/serialization.hpp"
#include "engine/validation.hpp"
#include "frame/native_class.hpp"
#include "native/functions.hpp"
#include "native/schema_class.hpp"

namespace sorvel::native {

using frame::Ref;

Ref RecordSerializer::serialize(PyObject* record) {
    output.begin();
    const bool is_dict = PyDict_Check(record);
    // The values are read one after another: asked for together, their misses overlap.
    if (!is_dict) shape.attributes.prefetch(record);
    frame::AttributeReader::Row row;
    if (!is_dict) row = shape.attributes.row(record);
    for (size_t i = 0; i < schema.descriptors.size(); ++i) {
        const engine::FieldDescriptor& descriptor = schema.descriptors[i];
        // The usual value, read borrowed and passing through, runs no Python code; anything
        // else is held, and may run Python code that changes the record: later fields are
        // read afresh.
        PyObject* found = row.get(i);
        if (found != nullptr && found != Py_None && output.put_passing(i, found)) continue;
        Ref value;
        if (found != nullptr) {
            value = Ref::borrow(found);
        } else if (is_dict) {
            PyObject* item = nullptr;
            if (PyDict_GetItemRef(record, keys.key(i), &item) < 0) frame::throw_fetched();
            value = Ref::steal(item);
        } else {
            value = shape.attributes.read(record, i);
            if (!value) frame::discard_error();  // a failing lookup counts as a missing field
        }
        if (!value || value.get() == Py_None) {
            if (!descriptor.nullable && !descriptor.has_default) {
                engine::EngineError::required_null(descriptor.name).raise();
            }
            output.put_none(i);
        } else {
            output.put(i, value.get(), [&](PyObject* present) {
                return engine::convert_field_value(present, descriptor);
            });
        }
        if (!is_dict) row = shape.attributes.row(record);
    }
    return output.finish([](const engine::EngineError& error) { error.raise(); });
}

namespace {

constexpr const char* kRecordParameters[] = {"data", "schema"};

Ref validate(PyObject*, PyObject* const* slots) {
    const auto& schema = frame::parameter("schema", [&] { return &as_schema(slots[1]); });
    engine::FieldKeys keys(schema->descriptors);
    std::vector<engine::ValidationPair> pairs;
    pairs.reserve(schema->descriptors.size());
    for (size_t i = 0; i < schema->descriptors.size(); ++i) {
        const engine::FieldDescriptor& descriptor = schema->descriptors[i];
        pairs.push_back({&descriptor, engine::read_field_value(slots[0], descriptor, keys.key(i))});
    }
    return engine::build_report(engine::validate_record_values(pairs));
}

Ref serialize(PyObject*, PyObject* const* slots) {
    const auto& schema = frame::parameter("schema", [&] { return &as_schema(slots[1]); });
    RecordSerializer serializer(*schema);
    return serializer.serialize(slots[0]);
}

Ref version(PyObject*) { return frame::new_str("1.0.1"); }

constexpr frame::ArgumentSpec kValidate{"validate", nullptr, kRecordParameters, 0, 2, {}};
constexpr frame::ArgumentSpec kSerialize{"serialize", nullptr, kRecordParameters, 0, 2, {}};

}  // namespace

PyMethodDef validate_def = {
    "validate", frame::as_cfunction<frame::fastcall<kValidate, validate>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate(data, schema)\n--\n\nValidates a Python dict or object against a schema.\n\n"
    "Returns a dict with `is_valid`, `valid_count`, `error_count`, and `errors`."};

PyMethodDef serialize_def = {
    "serialize", frame::as_cfunction<frame::fastcall<kSerialize, serialize>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize(data, schema)\n--\n\nSerializes a Python dict or object using a precompiled "
    "schema.\n\nAccepts either a dict (keys are field names) or any object with\nattributes "
    "matching the schema field names.\n\nReturns a dict of serialized field values "
    "(JSON-compatible)."};

PyMethodDef version_def = {"version", &frame::noargs<version>, METH_NOARGS,
                           "version()\n--\n\nReturns the sorvel-core version string."};

}  // namespace sorvel::native
