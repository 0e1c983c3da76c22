// The C implementation's decimal.Decimal object as CPython 3.13's _decimal lays it out. Only
// read or written behind a check at first use against objects Decimal(text) makes.
#pragma once

#include <Python.h>

#include <cstdint>

namespace sorvel::frame::decimal_layout {

// The header, the cached hash (-1 until computed), libmpdec's mpd_t, then the static
// coefficient words (base 10**19 on 64-bit builds) that `data` points at while the value fits.
struct DecimalObject {
    PyObject_HEAD Py_hash_t hash;
    uint8_t flags;
    Py_ssize_t exp;
    Py_ssize_t digits;
    Py_ssize_t len;
    Py_ssize_t alloc;
    uint64_t* data;
    uint64_t words[4];
};

constexpr uint8_t kNegative = 1;
constexpr uint8_t kSpecial = 2 | 4 | 8;  // infinity, NaN, signalling NaN
// The storage flags of a fresh object: mpd_t and its words live inside the object.
constexpr uint8_t kStaticStorage = 16 | 32;
constexpr uint64_t kWordBase = 10000000000000000000ULL;

}  // namespace sorvel::frame::decimal_layout
