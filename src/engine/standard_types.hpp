// The standard library's Decimal and UUID objects read from their storage, without the Python
// calls (str(), the int attribute) that the text road makes.
//
// Both read layouts that belong to the interpreter version: a UUID's int slot is found through
// its class's member descriptor and trusted only while the class is unchanged (its version
// tag); a decimal.Decimal's coefficient is read from the C implementation's object only after a
// self-test on known values passed at first use. When a check fails the functions answer from
// the public road (str() and its parse) or nullopt, never something different.
#pragma once

#include <Python.h>

#include <optional>

#include "text/decimal.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {

// An exact decimal.Decimal whose str() is positional ("1.50", "-0.000001") and whose value fits
// the 96-bit decimal with scale 0..28: exactly what parsing its str() gives. nullopt for every
// other object, including Decimals that str() prints with an exponent and NaN or infinities.
std::optional<text::Decimal> exact_decimal(PyObject* value);

// Whether exact_decimal reads the coefficient from the object (true once a Decimal was read on an
// interpreter whose layout passed the self-test) rather than through str().
bool decimal_storage_trusted();

// The digits and places that counting on the text of str(value) gives (text::count_decimal_text),
// read from an exact decimal.Decimal's storage when str() is positional; nullopt for anything
// else, or when the storage is not trusted.
std::optional<text::DecimalDigits> exact_decimal_digits(PyObject* value);

// An exact uuid.UUID's 128 bits, read from its int slot; nullopt otherwise.
std::optional<text::Uuid> exact_uuid_fast(PyObject* value);

// Whether exact_uuid_fast answers for `value`, found without copying the bits out: the int
// slot of an exact uuid.UUID holds an int in 0..2**128-1.
bool exact_uuid_fits(PyObject* value);

}  // namespace sorvel::engine
