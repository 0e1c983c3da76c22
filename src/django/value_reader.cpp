#include "django/value_reader.hpp"

#include "django/django_error.hpp"
#include "engine/decimal_text.hpp"
#include "engine/exact_values.hpp"
#include "engine/python_calls.hpp"
#include "engine/python_names.hpp"
#include "engine/reader.hpp"
#include "frame/convert.hpp"
#include "text/datetime.hpp"
#include "text/decimal.hpp"
#include "text/json.hpp"
#include "text/uuid.hpp"

namespace sorvel::django {

using frame::PythonError;
using frame::Ref;

namespace {

// The qualified name of the value's type, the "got" of a type conversion error.
std::string got_text(PyObject* value) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(value)));
    Py_ssize_t size = 0;
    const char* data = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (data == nullptr) {
        frame::discard_error();
        return "unknown";
    }
    return std::string(data, size_t(size));
}

// Runs a conversion whose Python failure means "wrong type for this field".
template <class Convert>
auto converted(PyObject* value, const char* expected, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (PythonError&) {
        DjangoError::type_conversion(expected, got_text(value));
    }
}

// The text of value.<method>() (isoformat or __str__), a type conversion error otherwise.
std::string method_text(PyObject* value, PyObject* method, const char* expected) {
    return converted(value, expected, [&] {
        Ref result = Ref::steal(PyObject_CallMethodNoArgs(value, method));
        if (!result) frame::throw_fetched();
        return std::string(frame::as_text(result.get()));
    });
}

template <class Parsed>
Parsed parsed_or_fail(std::optional<Parsed> parsed, const DjangoFieldDescriptor& d,
                      const std::string& text, const char* what) {
    if (!parsed) DjangoError::serialization(d.name, "cannot parse '" + text + "' as " + what);
    return *parsed;
}

engine::FieldValue read_json(PyObject* value, const DjangoFieldDescriptor& d) {
    Ref json;
    try {
        json = engine::import_module(engine::names::json());
    } catch (PythonError& error) {
        DjangoError::python("cannot import json module: " + frame::error_text(error));
    }
    Ref dumped;
    try {
        dumped = Ref::steal(PyObject_CallMethodOneArg(json.get(), engine::names::dumps(), value));
        if (!dumped) frame::throw_fetched();
    } catch (PythonError& error) {
        DjangoError::serialization(d.name, "json.dumps failed: " + frame::error_text(error));
    }
    std::string_view text;
    try {
        text = frame::as_text(dumped.get());
    } catch (PythonError& error) {
        DjangoError::python("json.dumps returned non-string: " + frame::error_text(error));
    }
    auto parsed = text::parse_json(text);
    if (!parsed) DjangoError::serialization(d.name, "invalid JSON: " + parsed.error());
    return parsed.take();
}

}  // namespace

engine::FieldValue read_django_value(PyObject* value, const DjangoFieldDescriptor& d) {
    if (value == Py_None) return engine::Null{};
    using T = DjangoFieldType;
    switch (d.type) {
        case T::CharField:
        case T::TextField:
        case T::EmailField:
        case T::URLField:
        case T::SlugField:
            return converted(value, "str", [&] { return std::string(frame::as_text(value)); });
        case T::IntegerField:
            return converted(value, "int", [&] { return frame::as_i64(value); });
        case T::BigIntegerField:
            return converted(value, "int (i64)", [&] { return frame::as_i64(value); });
        case T::FloatField:
            return converted(value, "float", [&] { return frame::as_double(value); });
        case T::BooleanField:
            return converted(value, "bool", [&] { return frame::as_bool(value); });
        case T::DecimalField: {
            const std::string text =
                method_text(value, engine::names::dunder_str(), "Decimal (via str)");
            std::string storage;
            auto parsed = text::parse_decimal(engine::decimal_reading_text(value, text, storage));
            if (!parsed)
                DjangoError::serialization(d.name, "cannot parse '" + text + "' as Decimal");
            return parsed.value();
        }
        case T::DateField: {
            if (auto exact = engine::exact_date(value)) return *exact;
            const std::string text = method_text(value, engine::names::isoformat(), "date");
            return parsed_or_fail(text::parse_iso_date(text), d, text, "date");
        }
        case T::TimeField: {
            if (auto exact = engine::exact_time(value)) return *exact;
            const std::string text = method_text(value, engine::names::isoformat(), "time");
            return parsed_or_fail(text::parse_iso_time(text), d, text, "time");
        }
        case T::DateTimeField: {
            if (auto exact = engine::exact_datetime(value)) return *exact;
            const std::string text = method_text(value, engine::names::isoformat(), "datetime");
            return parsed_or_fail(text::parse_iso_datetime(text), d, text, "datetime");
        }
        case T::UUIDField: {
            if (auto exact = engine::exact_uuid(value)) return *exact;
            const std::string text = method_text(value, engine::names::dunder_str(), "UUID");
            auto parsed = text::parse_uuid(text);
            if (!parsed) DjangoError::serialization(d.name, "cannot parse '" + text + "' as UUID");
            return parsed.value();
        }
        case T::JSONField:
            return read_json(value, d);
        case T::BinaryField:
            return converted(value, "bytes", [&] { return engine::read_bytes(value); });
    }
    return engine::Null{};
}

}  // namespace sorvel::django
