#include "engine/reader.hpp"

#include "engine/decimal_text.hpp"
#include "engine/engine_error.hpp"
#include "engine/exact_values.hpp"
#include "engine/python_calls.hpp"
#include "frame/convert.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

[[noreturn]] void mismatch(const FieldDescriptor& descriptor, std::string_view expected,
                           std::string got) {
    EngineError::type_mismatch(descriptor.name, std::string(expected), std::move(got)).raise();
}

uint8_t as_byte(PyObject* item) {
    const long value = PyLong_AsLong(item);
    if (value == -1 && PyErr_Occurred() != nullptr) frame::throw_fetched();
    if (value < 0 || value > 255) {
        throw frame::PythonError(PyExc_OverflowError,
                                 "out of range integral type conversion attempted");
    }
    return uint8_t(value);
}

std::string detail(const std::string& error) { return error; }
template <class Error>
std::string detail(Error error) {
    return std::string(text::describe(error));
}

// Parses the text form a Python call gave (`text`, which must be a str); a text that does not
// parse is a type mismatch of the field's kind.
template <class Parse>
FieldValue parse_text(const FieldDescriptor& descriptor, Ref text, Parse parse,
                      std::string_view prefix) {
    auto parsed = parse(frame::as_text(text.get()));
    if (!parsed) {
        mismatch(descriptor, kind_name(descriptor.kind),
                 std::string(prefix) + detail(parsed.error()));
    }
    return FieldValue(parsed.take());
}

FieldValue read_decimal(PyObject* value, const FieldDescriptor& descriptor) {
    Ref text = call_str(value);
    std::string storage;
    auto parsed =
        text::parse_decimal(decimal_reading_text(value, frame::as_text(text.get()), storage));
    if (!parsed) {
        mismatch(descriptor, kind_name(descriptor.kind),
                 "invalid decimal string: " + detail(parsed.error()));
    }
    return FieldValue(parsed.take());
}

}  // namespace

Bytes read_bytes(PyObject* value) try {
    if (PyBytes_Check(value)) {
        const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(value));
        return {std::vector<uint8_t>(data, data + PyBytes_GET_SIZE(value))};
    }
    if (PyByteArray_Check(value)) {
        const auto* data = reinterpret_cast<const uint8_t*>(PyByteArray_AS_STRING(value));
        return {std::vector<uint8_t>(data, data + PyByteArray_GET_SIZE(value))};
    }
    return {frame::as_vector<uint8_t>(value, as_byte)};
} catch (const std::bad_alloc&) {
    frame::throw_memory_error();  // the copy of a huge bytes object
}

FieldValue convert_field_value(PyObject* value, const FieldDescriptor& descriptor) {
    switch (descriptor.kind.index()) {
        case kind_index<StrKind>:
            return std::string(frame::as_text(value));
        case kind_index<IntKind>:
            return frame::as_i64(value);
        case kind_index<FloatKind>:
            return frame::as_double(value);
        case kind_index<BoolKind>:
            return frame::as_bool(value);
        case kind_index<DecimalKind>:
            return read_decimal(value, descriptor);
        case kind_index<DateTimeKind>:
            if (auto exact = exact_datetime(value)) return *exact;
            return parse_text(descriptor, call_isoformat(value), text::parse_datetime_engine,
                              "could not parse: ");
        case kind_index<DateKind>:
            if (auto exact = exact_date(value)) return *exact;
            return parse_text(descriptor, call_isoformat(value), text::parse_date_pattern,
                              "could not parse: ");
        case kind_index<TimeKind>:
            if (auto exact = exact_time(value)) return *exact;
            return parse_text(descriptor, call_isoformat(value), text::parse_time_pattern,
                              "could not parse: ");
        case kind_index<UuidKind>:
            if (auto exact = exact_uuid(value)) return *exact;
            return parse_text(descriptor, call_str(value), text::parse_uuid, "invalid UUID: ");
        case kind_index<ListKind>:
        case kind_index<DictKind>:
            return parse_text(descriptor, call_json_dumps(value), text::parse_json,
                              "invalid JSON: ");
        default:  // BytesKind
            return read_bytes(value);
    }
}

FieldValue read_field_value(PyObject* record, const FieldDescriptor& descriptor, PyObject* key) {
    Ref value;
    if (PyDict_Check(record)) {
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(record, key, &found) < 0) frame::throw_fetched();
        value = Ref::steal(found);
    } else {
        value = Ref::steal(PyObject_GetAttr(record, key));
        if (!value) frame::discard_error();  // a failing lookup counts as a missing field
    }
    if (!value || value.get() == Py_None) {
        if (descriptor.nullable || descriptor.has_default) return Null{};
        EngineError::required_null(descriptor.name).raise();
    }
    return convert_field_value(value.get(), descriptor);
}

}  // namespace sorvel::engine
