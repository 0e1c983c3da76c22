#include "engine/serialization.hpp"

#include <cmath>
#include <limits>

#include "engine/exact_values.hpp"
#include "engine/python_calls.hpp"
#include "engine/standard_types.hpp"
#include "frame/convert.hpp"
#include "text/base64.hpp"
#include "text/number_text.hpp"
#include "text/text_forms.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {

using frame::Ref;
using text::JsonValue;

namespace {

template <class Append, class Value>
JsonValue text_form(Append append, const Value& value) {
    std::string out;
    append(out, value);
    return JsonValue{std::move(out)};
}

}  // namespace

std::string datetime_range_error(const text::DateTime& value) {
    return "datetime out of range: year " + std::to_string(value.date.year) +
           " after conversion to UTC is outside 1 to 9999";
}

text::Result<SerializedRecord, EngineError> serialize_record_values(
    std::span<const FieldDescriptor> descriptors, std::vector<FieldValue>&& values,
    std::span<const uint32_t> order) {
    if (descriptors.size() != values.size()) {
        std::string message = "descriptor count (" + std::to_string(descriptors.size()) +
                              ") does not match value count (" + std::to_string(values.size()) +
                              ")";
        return text::Failure{EngineError::serialization("<batch>", std::move(message))};
    }
    SerializedRecord record{std::vector<JsonValue>(values.size()), order};
    for (size_t i = 0; i < values.size(); ++i) {
        FieldValue& value = values[i];
        JsonValue& out = record.values[i];
        switch (value.index()) {
            case variant_index<std::string, FieldValue>::value:
                out.v = std::move(std::get<std::string>(value));
                break;
            case variant_index<int64_t, FieldValue>::value: {
                const int64_t number = std::get<int64_t>(value);
                if (number >= 0) {
                    out.v = uint64_t(number);
                } else {
                    out.v = number;
                }
                break;
            }
            case variant_index<double, FieldValue>::value: {
                const double number = std::get<double>(value);
                if (!std::isfinite(number)) {
                    std::string message = "float value ";
                    text::append_double(message, number);
                    message += " is not representable in JSON (NaN/Infinity)";
                    return text::Failure{
                        EngineError::serialization(descriptors[i].name, std::move(message))};
                }
                out.v = number;
                break;
            }
            case variant_index<text::Decimal, FieldValue>::value:
                out = text_form(text::append_decimal, std::get<text::Decimal>(value));
                break;
            case variant_index<bool, FieldValue>::value:
                out.v = std::get<bool>(value);
                break;
            case variant_index<text::Date, FieldValue>::value:
                out = text_form(text::append_date, std::get<text::Date>(value));
                break;
            case variant_index<text::Time, FieldValue>::value:
                out = text_form(text::append_time, std::get<text::Time>(value));
                break;
            case variant_index<text::DateTime, FieldValue>::value: {
                const auto& datetime = std::get<text::DateTime>(value);
                if (!writable_datetime(datetime)) {
                    return text::Failure{EngineError::serialization(
                        descriptors[i].name, datetime_range_error(datetime))};
                }
                out = text_form(text::append_datetime_utc, datetime);
                break;
            }
            case variant_index<text::Uuid, FieldValue>::value:
                out = text_form(text::append_uuid, std::get<text::Uuid>(value));
                break;
            case variant_index<text::JsonValue, FieldValue>::value:
                out = std::move(std::get<text::JsonValue>(value));
                break;
            case variant_index<Bytes, FieldValue>::value: {
                const auto& data = std::get<Bytes>(value).data;
                std::string encoded;
                text::append_base64(encoded, data.data(), data.size());
                out.v = std::move(encoded);
                break;
            }
            default:  // Null
                break;
        }
    }
    return record;
}

Ref json_to_python(const JsonValue& value) {
    return std::visit(
        [](const auto& v) -> Ref {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::monostate>) {
                return frame::new_none();
            } else if constexpr (std::is_same_v<V, bool>) {
                return frame::new_bool(v);
            } else if constexpr (std::is_same_v<V, uint64_t>) {
                if (v > uint64_t(std::numeric_limits<int64_t>::max())) {
                    return frame::new_float(double(v));
                }
                return frame::new_int(int64_t(v));
            } else if constexpr (std::is_same_v<V, int64_t>) {
                return frame::new_int(v);
            } else if constexpr (std::is_same_v<V, double>) {
                return frame::new_float(v);
            } else if constexpr (std::is_same_v<V, std::string>) {
                return frame::new_str(v);
            } else if constexpr (std::is_same_v<V, text::JsonArray>) {
                frame::ListFiller list(Py_ssize_t(v.size()));
                for (const JsonValue& item : v)
                    list.push(json_to_python(item));
                return list.finish();
            } else {
                Ref dict = frame::new_dict();
                for (const auto& [key, item] : v) {
                    frame::dict_set(dict.get(), frame::new_str(key).get(),
                                    json_to_python(item).get());
                }
                return dict;
            }
        },
        value.v);
}

Ref record_to_dict(const SerializedRecord& record, FieldKeys& keys) {
    Ref dict = frame::new_dict();
    for (uint32_t position : record.order) {
        frame::dict_set(dict.get(), keys.key(position),
                        json_to_python(record.values[position]).get());
    }
    return dict;
}

Ref convert_python_value(const FieldDescriptor& descriptor, PyObject* value) {
    switch (descriptor.kind.index()) {
        case kind_index<DecimalKind>: {
            // An exact Decimal's positional str() is its fixed-point text.
            char buf[text::kMaxTextForm];
            if (const auto exact = exact_decimal(value)) {
                return frame::new_ascii(buf, size_t(text::write_decimal(buf, *exact) - buf));
            }
            return call_str(value);
        }
        case kind_index<UuidKind>: {
            char buf[text::kMaxTextForm];
            if (const auto uuid = exact_uuid_fast(value)) {
                return frame::new_ascii(buf, size_t(text::put_uuid(buf, *uuid) - buf));
            }
            return call_str(value);
        }
        case kind_index<DateTimeKind>:
        case kind_index<DateKind>:
        case kind_index<TimeKind>:
            if (auto text = exact_isoformat(value)) return frame::new_str(*text);
            return call_isoformat(value);
        case kind_index<BytesKind>:
            return call_b64encode(value);
        default:
            return Ref::borrow(value);
    }
}

}  // namespace sorvel::engine
