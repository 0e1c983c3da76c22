// The direct road from a Python value to its output object.
//
// The generic road reads a value into a FieldValue (a native copy), serializes it into a
// JsonValue and builds a new Python object from that. For the values records hold almost always
// (exact str, int, float and bool objects, the standard library's own Decimal, date, time,
// datetime and UUID objects, bytes) the answer is known without that detour: the object itself
// passes through, or its text form is written into a stack buffer and becomes an ASCII str.
//
// The rule every function here keeps: it answers only where its answer is exactly what the
// generic road gives for the same value (same type, same value, same text), and it never fails.
// Anything else (subclasses, aware times, custom tzinfo offsets that cannot be written, Decimals
// printed with an exponent, lone surrogates, values the generic road would refuse) answers
// "no" (an empty Ref, or -1), leaves no Python error set, and the caller takes the generic road,
// which produces the result or the error. Only an allocation failure of the result itself
// raises (frame::PythonError carrying MemoryError).
//
// Callers: the record serializers of _native and sorvel_django, and the sorvel package's kernels
// (which also write the text forms into JSON bytes). All functions need the interpreter lock and
// never run Python code, except a datetime whose tzinfo is neither None nor UTC: its utcoffset()
// is called once, as the generic road would.
#pragma once

#include <Python.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engine/field_kind.hpp"
#include "frame/ref.hpp"
#include "text/text_forms.hpp"

namespace sorvel::engine {

// The output a field's value takes, by the field's kind.
enum class OutputForm : uint8_t {
    Text,      // str kind: the str itself
    Integer,   // int kind: an int in the signed 64-bit range
    Float,     // float kind: a finite float
    Boolean,   // bool kind: True or False
    Decimal,   // positional text with exactly the value's scale ("1.50", "-0.05")
    DateTime,  // RFC 3339 text in UTC ("2024-01-05T10:30:00.120+00:00")
    Date,      // "2024-01-05"
    Time,      // "10:30:00", "10:30:00.123456"
    Uuid,      // 36-character lower-case hyphenated text
    Json,      // list and dict kinds: the value's JSON data as fresh lists, dicts and scalars
    Bytes,     // standard base64 text
};

OutputForm output_form(const FieldKind& kind);

// The output object for a present value (not None) of a field whose values take `form`, or an
// empty Ref when this value needs the generic road. Values that pass through come back as the
// same object (a new reference).
frame::Ref direct_output(OutputForm form, PyObject* value);

// Whether a present value of a field whose values take `form` passes through as the same
// object, decided inline for the usual values: a str of one-byte characters (no surrogate
// possible), a compact int, a finite float, a bool. False says nothing: direct_output decides.
// Runs no Python code.
inline bool passes_inline(OutputForm form, PyObject* value) {
    switch (form) {
        case OutputForm::Text:
            return PyUnicode_CheckExact(value) && PyUnicode_KIND(value) == PyUnicode_1BYTE_KIND;
        case OutputForm::Integer:
            return PyLong_CheckExact(value) &&
                   PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(value));
        case OutputForm::Float:
            return PyFloat_CheckExact(value) && std::isfinite(PyFloat_AS_DOUBLE(value));
        case OutputForm::Boolean:
            return value == Py_True || value == Py_False;
        default:
            return false;
    }
}

// direct_output with the values that pass through decided inline.
inline frame::Ref direct_output_inline(OutputForm form, PyObject* value) {
    if (passes_inline(form, value)) return frame::Ref::borrow(value);
    return direct_output(form, value);
}

// The text form of a value of form Decimal, DateTime, Date, Time or Uuid, written into `out`
// (room for text::kMaxTextForm characters, always ASCII); returns the number of characters
// written, or -1 when this value (or this form) needs the generic road.
ptrdiff_t write_text_form(OutputForm form, PyObject* value, char* out);

// The bytes of a bytes (or subclass) or bytearray value, for writing its base64 text with
// text::write_base64 into a buffer of text::base64_length(size) characters; false for any other
// object (sequences of ints take the generic road).
bool bytes_content(PyObject* value, const uint8_t*& data, size_t& size);

}  // namespace sorvel::engine
