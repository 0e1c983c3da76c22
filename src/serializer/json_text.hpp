// JSON text of the plain Python values, appended to the output buffer.
#pragma once

#include <Python.h>

#include <string>

#include "serializer/text_buffer.hpp"

namespace sorvel::serializer {

// A str as a JSON string (quotes included); a str with lone surrogates fails.
void append_json_str(TextBuffer& out, PyObject* str);
// An int of any size.
void append_json_int(TextBuffer& out, PyObject* integer);
// The shortest text that reads back as the same double, always with a point or an exponent;
// NaN and the infinities fail.
void append_json_float(TextBuffer& out, double value);
// "\"<key>\":", the key escaped.
std::string json_key_text(PyObject* key);

}  // namespace sorvel::serializer
