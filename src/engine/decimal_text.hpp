// The text a decimal field reads. Python's Decimal writes very small and very large values, and
// the zeros with many places that databases hand back (0E-8 for a DECIMAL(18, 8) zero), in
// exponent form, which the decimal parser does not take; such a Decimal reads as its positional
// form, format(value, "f"), instead. Texts, floats and other objects read as str() gives them.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

namespace sorvel::engine {

// `str_text` is str(value). Returns it unchanged, or the positional form of a decimal.Decimal
// (exact type or subclass) in exponent form, kept in `storage`.
std::string_view decimal_reading_text(PyObject* value, std::string_view str_text,
                                      std::string& storage);

}  // namespace sorvel::engine
