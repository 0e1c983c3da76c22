#include "engine/reader.hpp"

#include "engine/engine_error.hpp"
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

std::string_view describe_time(text::TimeParseError error) { return text::describe(error); }

}  // namespace

Bytes read_bytes(PyObject* value) {
    if (PyBytes_Check(value)) {
        const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(value));
        return {std::vector<uint8_t>(data, data + PyBytes_GET_SIZE(value))};
    }
    if (PyByteArray_Check(value)) {
        const auto* data = reinterpret_cast<const uint8_t*>(PyByteArray_AS_STRING(value));
        return {std::vector<uint8_t>(data, data + PyByteArray_GET_SIZE(value))};
    }
    return {frame::as_vector<uint8_t>(value, as_byte)};
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
        case kind_index<DecimalKind>: {
            Ref text = call_str(value);
            auto parsed = text::parse_decimal(frame::as_text(text.get()));
            if (!parsed) {
                mismatch(descriptor, "Decimal",
                         "invalid decimal string: " + std::string(text::describe(parsed.error())));
            }
            return parsed.value();
        }
        case kind_index<DateTimeKind>: {
            Ref text = call_isoformat(value);
            auto parsed = text::parse_datetime_engine(frame::as_text(text.get()));
            if (!parsed) {
                mismatch(descriptor, "datetime",
                         "could not parse: " + std::string(describe_time(parsed.error())));
            }
            return parsed.value();
        }
        case kind_index<DateKind>: {
            Ref text = call_isoformat(value);
            auto parsed = text::parse_date_pattern(frame::as_text(text.get()));
            if (!parsed) {
                mismatch(descriptor, "date",
                         "could not parse: " + std::string(describe_time(parsed.error())));
            }
            return parsed.value();
        }
        case kind_index<TimeKind>: {
            Ref text = call_isoformat(value);
            auto parsed = text::parse_time_pattern(frame::as_text(text.get()));
            if (!parsed) {
                mismatch(descriptor, "time",
                         "could not parse: " + std::string(describe_time(parsed.error())));
            }
            return parsed.value();
        }
        case kind_index<UuidKind>: {
            Ref text = call_str(value);
            auto parsed = text::parse_uuid(frame::as_text(text.get()));
            if (!parsed) mismatch(descriptor, "UUID", "invalid UUID: " + parsed.error());
            return parsed.value();
        }
        case kind_index<ListKind>:
        case kind_index<DictKind>: {
            Ref text = call_json_dumps(value);
            auto parsed = text::parse_json(frame::as_text(text.get()));
            if (!parsed) mismatch(descriptor, kind_name(descriptor.kind), "invalid JSON: " + parsed.error());
            return parsed.take();
        }
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
