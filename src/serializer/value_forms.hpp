// The text forms of the values a plan writes: dates, times, date-times in the three formats,
// durations, UUIDs, decimals and base64, appended as ASCII to a char buffer (the JSON output
// itself, or a scratch buffer that becomes a str). Also what kind of plain value an arbitrary
// Python object is, for the values computed columns return.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

#include "frame/ref.hpp"
#include "serializer/text_buffer.hpp"

namespace sorvel::serializer {

struct Plan;
struct Column;

// Makes the datetime C API usable here; called when a plan is built.
void load_datetime_api();

// Each appends the value's form (without quotes) or fails naming what it expected.
void append_date(TextBuffer& out, PyObject* value);
void append_time(TextBuffer& out, PyObject* value, uint32_t flags);
void append_datetime(TextBuffer& out, PyObject* value, uint32_t flags, PyObject* tz);
void append_duration(TextBuffer& out, PyObject* value, uint32_t flags);
void append_uuid(TextBuffer& out, PyObject* value, uint32_t flags);
void append_bytes(TextBuffer& out, PyObject* value);

// The total seconds of a timedelta (the kDurationSeconds form).
double duration_seconds(PyObject* value);

// The positional text of a finite decimal.Decimal (str(), or format(value, "f") when str()
// uses an exponent); NaN and infinities fail.
frame::Ref decimal_text(PyObject* value, const Plan& plan);

// The same text appended to `out`.
void append_decimal(TextBuffer& out, PyObject* value, const Plan& plan);

// The name a file column's value holds: a str as it is, a FieldFile's name (a str or None);
// fails for anything else.
frame::Ref file_name(PyObject* value, const Plan& plan);

// The label of a choices column for the value as an exact str (a lazy translation in today's
// language); null when the value has no label.
frame::Ref choice_label(const Column& column, PyObject* value);

enum class Shape {
    None,
    Bool,
    Int,
    Float,
    Str,
    List,
    Tuple,
    Dict,
    Decimal,
    DateTime,
    Date,
    Time,
    Duration,
    Uuid,
    Other
};

Shape shape_of(PyObject* value, const Plan& plan);

}  // namespace sorvel::serializer
