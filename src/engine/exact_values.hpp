// The standard library's own date, time, datetime and UUID objects read straight from their
// fields. Their text forms (isoformat(), str()) say exactly the same, but making and parsing the
// text costs more than everything else in reading a record. Any case that is not plainly
// equivalent (subclasses, aware times, offsets with seconds, a failing tzinfo) answers nullopt,
// and the caller takes the text path.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>

#include "text/datetime.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {

std::optional<text::Date> exact_date(PyObject* value);
std::optional<text::Time> exact_time(PyObject* value);
// Naive date-times as they read; aware ones converted to UTC.
std::optional<text::DateTime> exact_datetime(PyObject* value);
std::optional<text::Uuid> exact_uuid(PyObject* value);

// Whether value.isoformat() certainly succeeds without running Python code: a date, time or
// datetime (as `type` says: date.isoformat() fails only on other types) of the standard
// library's own class, without tzinfo or with a datetime.timezone, whose offset is always valid.
enum class Temporal { DateTime, Date, Time };
bool isoformat_certain(PyObject* value, Temporal type);

// Exactly what value.isoformat() returns for the standard library's own date, time and datetime
// objects (offsets included), and what str() returns for a uuid.UUID; nullopt otherwise.
std::optional<std::string> exact_isoformat(PyObject* value);
std::optional<std::string> exact_uuid_text(PyObject* value);

// Writes the decimal digits of a value >= 0, zero-padded to at least `width`, at `out` and
// returns the end: the fields of the isoformat() texts above, and of the serializer's duration
// texts. kPaddedRoom characters are always enough for widths up to it.
inline constexpr int kPaddedRoom = 24;
char* put_padded(char* out, int64_t value, int width);

}  // namespace sorvel::engine
