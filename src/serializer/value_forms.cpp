#include "serializer/value_forms.hpp"

#include <datetime.h>

#include <cstring>
#include <string_view>

#include "engine/exact_values.hpp"
#include "engine/standard_types.hpp"
#include "frame/convert.hpp"
#include "frame/fault.hpp"
#include "serializer/failure.hpp"
#include "serializer/plan.hpp"
#include "text/base64.hpp"
#include "text/datetime.hpp"
#include "text/text_forms.hpp"
#include "text/uuid.hpp"

namespace sorvel::serializer {

using frame::Ref;

namespace {

void append_padded(TextBuffer& out, long value, int width) {
    out.commit(engine::put_padded(out.room(engine::kPaddedRoom), value, width));
}

// Fixed-width digits into a local buffer: the forms below are built there and appended once.
char* put_digits(char* p, unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
    return p + width;
}

// HH:MM:SS[.ffffff], as Python's isoformat() writes a time of day.
char* put_python_clock(char* p, int hour, int minute, int second, int microsecond) {
    p = put_digits(p, unsigned(hour), 2);
    *p++ = ':';
    p = put_digits(p, unsigned(minute), 2);
    *p++ = ':';
    p = put_digits(p, unsigned(second), 2);
    if (microsecond != 0) {
        *p++ = '.';
        p = put_digits(p, unsigned(microsecond), 6);
    }
    return p;
}

// YYYY-MM-DD of a year 1 to 9999 (all Python's dates have such years).
char* put_date(char* p, const text::Date& date) {
    p = put_digits(p, unsigned(date.year), 4);
    *p++ = '-';
    p = put_digits(p, date.month, 2);
    *p++ = '-';
    return put_digits(p, date.day, 2);
}

// HH:MM:SS[.fraction], the fraction in the shortest exact unit (milli-, micro- or nanoseconds),
// as the engine writes times.
char* put_engine_clock(char* p, int hour, int minute, int second, uint32_t nanosecond) {
    p = put_python_clock(p, hour, minute, second, 0);
    if (nanosecond == 0) return p;
    *p++ = '.';
    if (nanosecond % 1000000 == 0) return put_digits(p, nanosecond / 1000000, 3);
    if (nanosecond % 1000 == 0) return put_digits(p, nanosecond / 1000, 6);
    return put_digits(p, nanosecond, 9);
}

void append_python_clock(TextBuffer& out, int hour, int minute, int second, int microsecond) {
    char buffer[16];
    out.append(buffer,
               size_t(put_python_clock(buffer, hour, minute, second, microsecond) - buffer));
}

// Text a Python method returned, refused unless it is plain printable ASCII: such text needs no
// escaping in JSON, and every real date, time or UUID form is like that.
void append_returned_text(TextBuffer& out, PyObject* text, const char* method) {
    if (!PyUnicode_Check(text)) fail(std::string(method) + " returned " + type_name(text));
    std::string_view view = frame::as_text(text);
    for (char c : view) {
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
            fail(std::string(method) + " returned text that is not a plain ASCII form");
        }
    }
    out.append(view);
}

void append_call(TextBuffer& out, PyObject* value, const char* method) {
    Ref text = Ref::steal(PyObject_CallMethod(value, method, nullptr));
    if (!text) fail_fetched();
    append_returned_text(out, text.get(), method);
}

void append_isoformat(TextBuffer& out, PyObject* value) {
    if (auto text = engine::exact_isoformat(value)) {
        out.append(*text);
        return;
    }
    append_call(out, value, "isoformat");
}

PyObject* tzinfo_of(PyObject* value) { return PyDateTime_DATE_GET_TZINFO(value); }

void check_year(const text::DateTime& value) {
    if (value.date.year < 1 || value.date.year > 9999)
        fail("datetime is out of range (years 1 to 9999) once converted to UTC");
}

// The instant in UTC of an aware datetime. What the engine cannot read exactly (an offset with
// seconds, a subclass) is converted by the interpreter: value.astimezone(timezone.utc).
text::DateTime utc_of(PyObject* value) {
    if (auto exact = engine::exact_datetime(value)) {
        check_year(*exact);
        return *exact;
    }
    Ref utc = Ref::steal(PyObject_CallMethod(value, "astimezone", "O", PyDateTime_TimeZone_UTC));
    if (!utc) fail_fetched();
    if (!PyDateTime_Check(utc.get())) fail("astimezone() returned " + type_name(utc.get()));
    text::DateTime reading{
        {int32_t(PyDateTime_GET_YEAR(utc.get())), uint8_t(PyDateTime_GET_MONTH(utc.get())),
         uint8_t(PyDateTime_GET_DAY(utc.get()))},
        {uint8_t(PyDateTime_DATE_GET_HOUR(utc.get())),
         uint8_t(PyDateTime_DATE_GET_MINUTE(utc.get())),
         uint8_t(PyDateTime_DATE_GET_SECOND(utc.get())),
         uint32_t(PyDateTime_DATE_GET_MICROSECOND(utc.get())) * 1000u}};
    check_year(reading);
    return reading;
}

// Python's isoformat() of a UTC reading, with "Z" as its offset.
void append_z(TextBuffer& out, const text::DateTime& utc) {
    char* p = put_date(out.room(32), utc.date);
    *p++ = 'T';
    p = put_python_clock(p, utc.time.hour, utc.time.minute, utc.time.second,
                         int(utc.time.nanosecond / 1000));
    *p++ = 'Z';
    out.commit(p);
}

void replace_utc_suffix(TextBuffer& out, size_t start) {
    constexpr std::string_view kUtc = "+00:00";
    if (out.size() - start >= kUtc.size() && out.view().substr(out.size() - kUtc.size()) == kUtc) {
        out.resize(out.size() - kUtc.size());
        out.push('Z');
    }
}

}  // namespace

void load_datetime_api() {
    if (PyDateTimeAPI != nullptr) return;
    PyDateTimeAPI = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
    if (PyDateTimeAPI == nullptr) frame::throw_fetched();
}

void append_date(TextBuffer& out, PyObject* value) {
    if (PyDate_CheckExact(value)) {
        char buffer[10];
        char* p = put_digits(buffer, unsigned(PyDateTime_GET_YEAR(value)), 4);
        *p++ = '-';
        p = put_digits(p, unsigned(PyDateTime_GET_MONTH(value)), 2);
        *p++ = '-';
        put_digits(p, unsigned(PyDateTime_GET_DAY(value)), 2);
        out.append(buffer, sizeof buffer);
        return;
    }
    if (!PyDate_Check(value)) fail("expected a date, got " + type_name(value));
    append_call(out, value, "isoformat");
}

void append_time(TextBuffer& out, PyObject* value, uint32_t flags) {
    if (!PyTime_Check(value)) fail("expected a time, got " + type_name(value));
    if (PyTime_CheckExact(value) && PyDateTime_TIME_GET_TZINFO(value) == Py_None) {
        const int hour = PyDateTime_TIME_GET_HOUR(value);
        const int minute = PyDateTime_TIME_GET_MINUTE(value);
        const int second = PyDateTime_TIME_GET_SECOND(value);
        const int microsecond = PyDateTime_TIME_GET_MICROSECOND(value);
        if ((flags & (kDateTimeIso | kDateTimeZ)) == 0) {
            out.commit(put_engine_clock(out.room(16), hour, minute, second,
                                        uint32_t(microsecond) * 1000u));
        } else {
            append_python_clock(out, hour, minute, second, microsecond);
        }
        return;
    }
    append_call(out, value, "isoformat");
}

void append_datetime(TextBuffer& out, PyObject* value, uint32_t flags, PyObject* tz) {
    if (!PyDateTime_Check(value)) fail("expected a datetime, got " + type_name(value));
    const bool aware = tzinfo_of(value) != Py_None;
    const bool python_form = (flags & (kDateTimeIso | kDateTimeZ)) != 0;
    if (aware && python_form && (flags & kLocalTime) && tz != nullptr && tz != Py_None) {
        Ref local = Ref::steal(PyObject_CallMethod(value, "astimezone", "O", tz));
        if (!local) fail_fetched();
        const size_t start = out.size();
        append_isoformat(out, local.get());
        if (flags & kDateTimeZ) replace_utc_suffix(out, start);
        return;
    }
    if (flags & kDateTimeIso) {
        append_isoformat(out, value);
    } else if (flags & kDateTimeZ) {
        if (aware) {
            append_z(out, utc_of(value));
        } else {
            append_isoformat(out, value);
        }
    } else {
        // RFC 3339 in UTC; a naive value is taken as a UTC reading, as the engine does.
        text::DateTime utc;
        if (aware) {
            utc = utc_of(value);
        } else if (auto exact = engine::exact_datetime(value)) {
            utc = *exact;
        } else {
            utc = utc_of(value);
        }
        char* p = put_date(out.room(40), utc.date);
        *p++ = 'T';
        p = put_engine_clock(p, utc.time.hour, utc.time.minute, utc.time.second,
                             utc.time.nanosecond);
        std::memcpy(p, "+00:00", 6);
        out.commit(p + 6);
    }
}

void append_duration(TextBuffer& out, PyObject* value, uint32_t flags) {
    if (!PyDelta_Check(value)) fail("expected a timedelta, got " + type_name(value));
    long days = PyDateTime_DELTA_GET_DAYS(value);
    long seconds = PyDateTime_DELTA_GET_SECONDS(value);
    long microseconds = PyDateTime_DELTA_GET_MICROSECONDS(value);
    if (flags & kDurationIso) {
        // Django's duration_iso_string: the sign in front, then the magnitude.
        if (days < 0) {
            out.push('-');
            // -(days, seconds, us) normalised, as timedelta * -1 would be.
            int64_t total = -((int64_t(days) * 86400 + seconds) * 1000000 + microseconds);
            microseconds = long(total % 1000000);
            total /= 1000000;
            seconds = long(total % 86400);
            days = long(total / 86400);
        }
        out.push('P');
        out.append(std::to_string(days));
        out.append("DT");
        append_padded(out, seconds / 3600, 2);
        out.push('H');
        append_padded(out, seconds / 60 % 60, 2);
        out.push('M');
        append_padded(out, seconds % 60, 2);
        if (microseconds != 0) {
            out.push('.');
            append_padded(out, microseconds, 6);
        }
        out.push('S');
        return;
    }
    // Django's duration_string, which DRF writes: "[D ]HH:MM:SS[.ffffff]".
    if (days != 0) {
        out.append(std::to_string(days));
        out.push(' ');
    }
    append_padded(out, seconds / 3600, 2);
    out.push(':');
    append_padded(out, seconds / 60 % 60, 2);
    out.push(':');
    append_padded(out, seconds % 60, 2);
    if (microseconds != 0) {
        out.push('.');
        append_padded(out, microseconds, 6);
    }
}

double duration_seconds(PyObject* value) {
    if (!PyDelta_Check(value)) fail("expected a timedelta, got " + type_name(value));
    const int64_t days = PyDateTime_DELTA_GET_DAYS(value);
    // Exact in a double up to 2**53 microseconds, so one rounding, as timedelta's own division.
    if (days > -100000000 && days < 100000000) {
        const int64_t microseconds =
            (days * 86400 + PyDateTime_DELTA_GET_SECONDS(value)) * 1000000 +
            PyDateTime_DELTA_GET_MICROSECONDS(value);
        constexpr int64_t kExact = int64_t(1) << 53;
        if (microseconds > -kExact && microseconds < kExact) return double(microseconds) / 1e6;
    }
    Ref seconds = Ref::steal(PyObject_CallMethod(value, "total_seconds", nullptr));
    if (!seconds) fail_fetched();
    const double result = PyFloat_AsDouble(seconds.get());
    if (result == -1.0 && PyErr_Occurred()) fail_fetched();
    return result;
}

void append_uuid(TextBuffer& out, PyObject* value, uint32_t flags) {
    std::optional<text::Uuid> uuid = engine::exact_uuid_fast(value);
    if (!uuid) {
        // A subclass of uuid.UUID: its own str() form, read back.
        Ref text = Ref::steal(PyObject_Str(value));
        if (!text) fail_fetched();
        if (PyUnicode_Check(text.get())) {
            auto parsed = text::parse_uuid(frame::as_text(text.get()));
            if (parsed) uuid = parsed.value();
        }
        if (!uuid) fail("expected a UUID, got " + type_name(value));
    }
    char* p = out.room(36);
    out.commit(flags & kUuidHex ? text::put_uuid_hex(p, *uuid) : text::put_uuid(p, *uuid));
}

void append_bytes(TextBuffer& out, PyObject* value) {
    if (PyUnicode_Check(value) || !PyObject_CheckBuffer(value))
        fail("expected bytes, got " + type_name(value));
    Py_buffer view;
    if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) < 0) fail_fetched();
    const size_t size = size_t(view.len);
    char* end = text::write_base64(out.room(text::base64_length(size)),
                                   static_cast<const uint8_t*>(view.buf), size);
    out.commit(end);
    PyBuffer_Release(&view);
}

Ref decimal_text(PyObject* value, const Plan& plan) {
    if (!PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(plan.decimal_type.get())))
        fail("expected a Decimal, got " + type_name(value));
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text) fail_fetched();
    if (!PyUnicode_IS_ASCII(text.get())) fail("Decimal has an unexpected text form");
    std::string_view view(static_cast<const char*>(PyUnicode_DATA(text.get())),
                          size_t(PyUnicode_GET_LENGTH(text.get())));
    if (view.find_first_of("nN") != std::string_view::npos) {
        fail("Decimal " + std::string(view) + " has no JSON form");
    }
    if (view.find_first_of("eE") != std::string_view::npos) {
        Ref spec = frame::new_str("f");
        text = Ref::steal(PyObject_Format(value, spec.get()));
        if (!text) fail_fetched();
    }
    return text;
}

void append_decimal(TextBuffer& out, PyObject* value, const Plan& plan) {
    if (auto exact = engine::exact_decimal(value)) {
        out.commit(text::write_decimal(out.room(text::kMaxTextForm), *exact));
        return;
    }
    Ref text = decimal_text(value, plan);
    out.append(frame::as_text(text.get()));
}

Shape shape_of(PyObject* value, const Plan& plan) {
    if (value == Py_None) return Shape::None;
    if (PyBool_Check(value)) return Shape::Bool;
    if (PyLong_Check(value)) return Shape::Int;
    if (PyFloat_Check(value)) return Shape::Float;
    if (PyUnicode_Check(value)) return Shape::Str;
    if (PyList_Check(value)) return Shape::List;
    if (PyTuple_Check(value)) return Shape::Tuple;
    if (PyDict_Check(value)) return Shape::Dict;
    if (PyDateTime_Check(value)) return Shape::DateTime;
    if (PyDate_Check(value)) return Shape::Date;
    if (PyTime_Check(value)) return Shape::Time;
    if (PyDelta_Check(value)) return Shape::Duration;
    if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(plan.decimal_type.get())))
        return Shape::Decimal;
    if (plan.uuid_type &&
        PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(plan.uuid_type.get())))
        return Shape::Uuid;
    return Shape::Other;
}

Ref file_name(PyObject* value, const Plan& plan) {
    if (PyUnicode_Check(value)) return Ref::borrow(value);
    if (!PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(plan.fieldfile_type.get())))
        fail("expected a file name or a FieldFile, got " + type_name(value));
    Ref name = Ref::steal(PyObject_GetAttrString(value, "name"));
    if (!name) fail_fetched();
    if (name.get() != Py_None && !PyUnicode_Check(name.get()))
        fail("a file name of type " + type_name(name.get()));
    return name;
}

Ref choice_label(const Column& column, PyObject* value) {
    PyObject* label = nullptr;
    if (PyDict_GetItemRef(column.extra.get(), value, &label) < 0) fail_fetched();
    Ref held = Ref::steal(label);
    if (!held || PyUnicode_CheckExact(held.get())) return held;
    Ref text = Ref::steal(PyObject_Str(held.get()));  // a lazy translation, in today's language
    if (!text) fail_fetched();
    return text;
}

}  // namespace sorvel::serializer
