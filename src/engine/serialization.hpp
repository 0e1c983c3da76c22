// Serialization of a record's values into JSON-compatible output, and the Python objects made
// from it.
#pragma once

#include <Python.h>

#include <span>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/field_keys.hpp"
#include "engine/field_kind.hpp"
#include "engine/field_value.hpp"
#include "frame/ref.hpp"
#include "text/datetime.hpp"
#include "text/json.hpp"
#include "text/result.hpp"

namespace sorvel::engine {

// A record's JSON values by descriptor position, and the positions in output order (ascending
// name bytes, one position per distinct name).
struct SerializedRecord {
    std::vector<text::JsonValue> values;
    std::span<const uint32_t> order;
};

// Converts each value by its variant (consuming `values`); the first value that has no JSON form
// (a non-finite float, a date-time outside years 1..9999) fails with SerializationError for its
// field. `order` is output_order(descriptors), computed once per schema or per call.
text::Result<SerializedRecord, EngineError> serialize_record_values(
    std::span<const FieldDescriptor> descriptors, std::vector<FieldValue>&& values,
    std::span<const uint32_t> order);

// RFC 3339 writes four-digit years only, so a date-time that lands outside years 1..9999 once
// converted to UTC (9999-12-31T23:30 at -01:00) has no text form; `datetime_range_error` is the
// message its field fails with.
inline bool writable_datetime(const text::DateTime& value) {
    return value.date.year >= 1 && value.date.year <= 9999;
}
std::string datetime_range_error(const text::DateTime& value);

frame::Ref json_to_python(const text::JsonValue& value);

// A new dict of the record, keys in output order.
frame::Ref record_to_dict(const SerializedRecord& record, FieldKeys& keys);

// Python's own output form of a present value whose kind needs one: str() for Decimal and
// UUID, isoformat() for temporal kinds, base64 text for bytes; others unchanged.
frame::Ref convert_python_value(const FieldDescriptor& descriptor, PyObject* value);

}  // namespace sorvel::engine
