#include "engine/exact_values.hpp"

#include <datetime.h>

#include <cstring>

#include "engine/python_names.hpp"
#include "frame/error.hpp"
#include "frame/once.hpp"
#include "frame/ref.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

// The datetime C API, imported once; null when the module cannot be imported.
PyDateTime_CAPI* datetime_api() {
    static frame::Once<PyDateTime_CAPI*> cell;
    return cell.get([] {
        auto* api = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
        if (api == nullptr) frame::discard_error();
        return api;
    });
}

// uuid.UUID when the uuid module is loaded (a UUID object cannot exist otherwise), else null.
PyObject* uuid_class() {
    static frame::Once<PyObject*> cell;
    if (const auto* known = cell.peek()) return *known;
    Ref module = Ref::steal(PyImport_GetModule(names::uuid()));
    if (!module) {
        frame::discard_error();
        return nullptr;
    }
    return cell.get([&] {
        PyObject* cls = PyObject_GetAttrString(module.get(), "UUID");
        if (cls == nullptr) frame::discard_error();
        return cls;  // kept for the life of the process
    });
}

text::Time time_of(PyObject* value) {
    return {uint8_t(PyDateTime_DATE_GET_HOUR(value)), uint8_t(PyDateTime_DATE_GET_MINUTE(value)),
            uint8_t(PyDateTime_DATE_GET_SECOND(value)),
            uint32_t(PyDateTime_DATE_GET_MICROSECOND(value)) * 1000u};
}

constexpr int64_t kMicrosecondsPerDay = int64_t{86400} * 1000000;

struct Offset {
    bool aware = false;
    int64_t microseconds = 0;  // east of UTC
};

// What tzinfo.utcoffset(argument) says (None: naive); nothing when it fails, answers something
// other than a timedelta, or an offset of a day or more: the text path reports those in its own
// way.
std::optional<Offset> utc_offset(PyObject* tzinfo, PyObject* argument, PyDateTime_CAPI* api) {
    if (tzinfo == Py_None) return Offset{};
    if (tzinfo == api->TimeZone_UTC) return Offset{true, 0};
    Ref offset = Ref::steal(PyObject_CallMethodOneArg(tzinfo, names::utcoffset(), argument));
    if (!offset) {
        frame::discard_error();
        return std::nullopt;
    }
    if (offset.get() == Py_None) return Offset{};
    if (Py_TYPE(offset.get()) != api->DeltaType) return std::nullopt;
    // A timedelta keeps seconds in 0..86399 and microseconds in 0..999999, so an offset strictly
    // between -24 h and 24 h has days 0 or -1. Python's isoformat() refuses anything else; the
    // text path raises its ValueError. Checking the days first keeps the arithmetic in range.
    const int days = PyDateTime_DELTA_GET_DAYS(offset.get());
    if (days < -1 || days > 0) return std::nullopt;
    const int64_t microseconds =
        (int64_t(days) * 86400 + PyDateTime_DELTA_GET_SECONDS(offset.get())) * 1000000 +
        PyDateTime_DELTA_GET_MICROSECONDS(offset.get());
    if (microseconds <= -kMicrosecondsPerDay) return std::nullopt;
    return Offset{true, microseconds};
}

// The UTC offset in whole minutes of a datetime, 0 for a naive one; nothing when the text form
// would not parse (an offset with seconds) or tzinfo fails.
std::optional<int64_t> offset_minutes(PyObject* value, PyDateTime_CAPI* api) {
    const auto offset = utc_offset(PyDateTime_DATE_GET_TZINFO(value), value, api);
    if (!offset || offset->microseconds % 60000000 != 0) return std::nullopt;
    return offset->microseconds / 60000000;
}

void append_digits(std::string& out, int64_t value, int width) {
    char digits[kPaddedRoom];
    out.append(digits, size_t(put_padded(digits, value, width) - digits));
}

// HH:MM:SS[.ffffff], as Python writes a time of day.
void append_python_time(std::string& out, int hour, int minute, int second, int microsecond) {
    append_digits(out, hour, 2);
    out.push_back(':');
    append_digits(out, minute, 2);
    out.push_back(':');
    append_digits(out, second, 2);
    if (microsecond != 0) {
        out.push_back('.');
        append_digits(out, microsecond, 6);
    }
}

// +HH:MM[:SS[.ffffff]], as Python writes a UTC offset.
void append_python_offset(std::string& out, const Offset& offset) {
    if (!offset.aware) return;
    int64_t us = offset.microseconds;
    out.push_back(us < 0 ? '-' : '+');
    if (us < 0) us = -us;
    const int64_t seconds = us / 1000000;
    append_digits(out, seconds / 3600, 2);
    out.push_back(':');
    append_digits(out, seconds / 60 % 60, 2);
    if (us % 60000000 != 0) {
        out.push_back(':');
        append_digits(out, seconds % 60, 2);
        if (us % 1000000 != 0) {
            out.push_back('.');
            append_digits(out, us % 1000000, 6);
        }
    }
}

void append_python_date(std::string& out, PyObject* value) {
    append_digits(out, PyDateTime_GET_YEAR(value), 4);
    out.push_back('-');
    append_digits(out, PyDateTime_GET_MONTH(value), 2);
    out.push_back('-');
    append_digits(out, PyDateTime_GET_DAY(value), 2);
}

}  // namespace

char* put_padded(char* out, int64_t value, int width) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = count; pad < width; ++pad)
        *out++ = '0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

std::optional<text::Date> exact_date(PyObject* value) {
    PyDateTime_CAPI* api = datetime_api();
    if (api == nullptr || Py_TYPE(value) != api->DateType) return std::nullopt;
    return text::Date{PyDateTime_GET_YEAR(value), uint8_t(PyDateTime_GET_MONTH(value)),
                      uint8_t(PyDateTime_GET_DAY(value))};
}

bool isoformat_certain(PyObject* value, Temporal type) {
    PyDateTime_CAPI* api = datetime_api();
    if (api == nullptr) return false;
    switch (type) {
        case Temporal::Date:
            return Py_TYPE(value) == api->DateType;
        case Temporal::DateTime:
            if (Py_TYPE(value) != api->DateTimeType) return false;
            break;
        case Temporal::Time:
            if (Py_TYPE(value) != api->TimeType) return false;
            break;
    }
    PyObject* tzinfo = type == Temporal::DateTime ? PyDateTime_DATE_GET_TZINFO(value)
                                                  : PyDateTime_TIME_GET_TZINFO(value);
    return tzinfo == Py_None || Py_TYPE(tzinfo) == Py_TYPE(api->TimeZone_UTC);
}

std::optional<text::Time> exact_time(PyObject* value) {
    PyDateTime_CAPI* api = datetime_api();
    if (api == nullptr || Py_TYPE(value) != api->TimeType) return std::nullopt;
    if (PyDateTime_TIME_GET_TZINFO(value) != Py_None) return std::nullopt;
    return text::Time{uint8_t(PyDateTime_TIME_GET_HOUR(value)),
                      uint8_t(PyDateTime_TIME_GET_MINUTE(value)),
                      uint8_t(PyDateTime_TIME_GET_SECOND(value)),
                      uint32_t(PyDateTime_TIME_GET_MICROSECOND(value)) * 1000u};
}

std::optional<text::DateTime> exact_datetime(PyObject* value) {
    PyDateTime_CAPI* api = datetime_api();
    if (api == nullptr || Py_TYPE(value) != api->DateTimeType) return std::nullopt;
    const auto offset = offset_minutes(value, api);
    if (!offset) return std::nullopt;
    text::DateTime result{{PyDateTime_GET_YEAR(value), uint8_t(PyDateTime_GET_MONTH(value)),
                           uint8_t(PyDateTime_GET_DAY(value))},
                          time_of(value)};
    if (*offset == 0) return result;
    const int64_t minutes_of_day = int64_t(result.time.hour) * 60 + result.time.minute - *offset;
    const int64_t day_shift =
        minutes_of_day >= 0 ? minutes_of_day / 1440 : -((-minutes_of_day + 1439) / 1440);
    const int64_t minutes = minutes_of_day - day_shift * 1440;
    result.time.hour = uint8_t(minutes / 60);
    result.time.minute = uint8_t(minutes % 60);
    if (day_shift != 0) {
        result.date = text::civil_from_days(
            text::days_from_civil(result.date.year, result.date.month, result.date.day) +
            day_shift);
    }
    return result;
}

std::optional<text::Uuid> exact_uuid(PyObject* value) {
    PyObject* cls = uuid_class();
    if (cls == nullptr || Py_TYPE(value) != reinterpret_cast<PyTypeObject*>(cls)) {
        return std::nullopt;
    }
    Ref number = Ref::steal(PyObject_GetAttr(value, names::int_()));
    if (!number || !PyLong_Check(number.get())) {
        frame::discard_error();
        return std::nullopt;
    }
    text::Uuid uuid;
    const Py_ssize_t written =
        PyLong_AsNativeBytes(number.get(), uuid.bytes.data(), Py_ssize_t(uuid.bytes.size()),
                             Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER |
                                 Py_ASNATIVEBYTES_REJECT_NEGATIVE);
    if (written < 0 || written > Py_ssize_t(uuid.bytes.size())) {
        frame::discard_error();
        return std::nullopt;
    }
    return uuid;
}

std::optional<std::string> exact_isoformat(PyObject* value) {
    PyDateTime_CAPI* api = datetime_api();
    if (api == nullptr) return std::nullopt;
    PyTypeObject* type = Py_TYPE(value);
    std::string out;
    if (type == api->DateTimeType) {
        const auto offset = utc_offset(PyDateTime_DATE_GET_TZINFO(value), value, api);
        if (!offset) return std::nullopt;
        append_python_date(out, value);
        out.push_back('T');
        append_python_time(out, PyDateTime_DATE_GET_HOUR(value), PyDateTime_DATE_GET_MINUTE(value),
                           PyDateTime_DATE_GET_SECOND(value),
                           PyDateTime_DATE_GET_MICROSECOND(value));
        append_python_offset(out, *offset);
    } else if (type == api->DateType) {
        append_python_date(out, value);
    } else if (type == api->TimeType) {
        // A time's offset is its tzinfo's utcoffset(None).
        const auto offset = utc_offset(PyDateTime_TIME_GET_TZINFO(value), Py_None, api);
        if (!offset) return std::nullopt;
        append_python_time(out, PyDateTime_TIME_GET_HOUR(value), PyDateTime_TIME_GET_MINUTE(value),
                           PyDateTime_TIME_GET_SECOND(value),
                           PyDateTime_TIME_GET_MICROSECOND(value));
        append_python_offset(out, *offset);
    } else {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> exact_uuid_text(PyObject* value) {
    const auto uuid = exact_uuid(value);
    if (!uuid) return std::nullopt;
    std::string out;
    text::append_uuid(out, *uuid);
    return out;
}

}  // namespace sorvel::engine
