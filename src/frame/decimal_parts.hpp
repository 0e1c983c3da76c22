// decimal.Decimal objects made from a sign, a coefficient and an exponent, without the text
// parse and argument handling of Decimal(text).
//
// An object is allocated through the class and its libmpdec value written in place as the C
// implementation's own constructor writes it (only the collector's tracking differs: see
// decimal_parts.cpp). That layout is CPython 3.13's _decimal; it is checked once, at first use,
// against objects Decimal(text) makes (every field, for values of every shape the fast path
// makes). When the check fails the answer is always "no object", and the caller takes the
// public road.
#pragma once

#include <Python.h>

#include <cstdint>

#include "frame/ref.hpp"

namespace sorvel::frame {

// The Decimal equal in value, sign and exponent to (-1)**negative * coefficient * 10**exponent,
// of class `decimal_type` (the C implementation's decimal.Decimal); null when this cannot be
// done here: a coefficient of 10**19 or more, an exponent outside +-10**9, or a layout that
// failed its check. Throws only when the allocation fails.
Ref decimal_from_parts(PyObject* decimal_type, bool negative, uint64_t coefficient,
                       int64_t exponent);

}  // namespace sorvel::frame
