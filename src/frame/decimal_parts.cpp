#include "frame/decimal_parts.hpp"

#include <cstring>

#include "frame/decimal_layout.hpp"
#include "frame/error.hpp"
#include "text/powers_of_ten.hpp"

namespace sorvel::frame {
namespace {

using namespace decimal_layout;

constexpr int64_t kExponentLimit = 1000000000;

// Allocated as the C constructor allocates its own class (PyObject_GC_New), every field written
// below. It is left untracked: it refers to nothing but its class, so it can never be part of
// a garbage cycle, and a batch of thousands of tracked Decimals would only make the collector's
// passes over the young objects, and so its full collections, come sooner and cost more.
Ref make(PyTypeObject* type, bool negative, uint64_t coefficient, int64_t exponent) {
    Ref object = Ref::steal(_PyObject_GC_New(type));
    if (!object) throw_fetched();
    auto* d = reinterpret_cast<DecimalObject*>(object.get());
    d->hash = -1;
    d->flags = uint8_t(kStaticStorage | (negative ? kNegative : 0));
    d->exp = exponent;
    d->digits = text::decimal_digits(coefficient);
    d->len = 1;
    d->alloc = 4;
    d->data = d->words;
    d->words[0] = coefficient;
    return object;
}

// Whether Decimal(text) makes an object with every field as `make` writes them for the same
// value, and whether `make`'s object then reads back as that one does.
bool same_as_constructed(PyTypeObject* type, const char* text, bool negative,
                         uint64_t coefficient, int64_t exponent) {
    Ref sample = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(type), "s", text));
    if (!sample || Py_TYPE(sample.get()) != type) {
        discard_error();
        return false;
    }
    const auto* a = reinterpret_cast<const DecimalObject*>(sample.get());
    if (a->hash != -1 || a->flags != uint8_t(kStaticStorage | (negative ? kNegative : 0)) ||
        a->exp != exponent || a->digits != text::decimal_digits(coefficient) || a->len != 1 ||
        a->alloc != 4 || a->data != a->words || a->words[0] != coefficient)
        return false;
    Ref made = make(type, negative, coefficient, exponent);
    Ref shown = Ref::steal(PyObject_Str(made.get()));
    Ref expected = Ref::steal(PyObject_Str(sample.get()));
    if (!shown || !expected) {
        discard_error();
        return false;
    }
    int same_text = PyUnicode_Compare(shown.get(), expected.get());
    int equal = PyObject_RichCompareBool(sample.get(), made.get(), Py_EQ);
    if (PyErr_Occurred() != nullptr) discard_error();
    return same_text == 0 && equal == 1;
}

bool layout_trusted(PyTypeObject* type) {
    // Only the C class has this name, size and no instance dict or weak references.
    return std::strcmp(type->tp_name, "decimal.Decimal") == 0 && PyType_IS_GC(type) &&
           (type->tp_flags & Py_TPFLAGS_PREHEADER) == 0 &&
           type->tp_basicsize == Py_ssize_t(sizeof(DecimalObject)) && type->tp_itemsize == 0 &&
           type->tp_dictoffset == 0 && type->tp_weaklistoffset == 0 &&
           same_as_constructed(type, "-123.45", true, 12345, -2) &&
           same_as_constructed(type, "0", false, 0, 0) &&
           same_as_constructed(type, "-0.00", true, 0, -2) &&
           same_as_constructed(type, "9999999999999999999", false, 9999999999999999999ULL, 0) &&
           same_as_constructed(type, "1.000000000000000000", false, 1000000000000000000ULL,
                               -18) &&
           same_as_constructed(type, "7E+3", false, 7, 3) &&
           same_as_constructed(type, "5E-1000", false, 5, -1000);
}

// The class the layout was checked for and the outcome; the check runs once per class, with
// the interpreter lock held (no other thread can see a half-made answer). A class checked
// while its own check is under way (the samples' construction reentering) is refused.
struct Verdict {
    PyObject* type = nullptr;  // kept for the life of the process
    bool trusted = false;
};
Verdict verdict;

}  // namespace

Ref decimal_from_parts(PyObject* decimal_type, bool negative, uint64_t coefficient,
                       int64_t exponent) {
    if (coefficient >= kWordBase || exponent >= kExponentLimit || exponent <= -kExponentLimit)
        return {};
    auto* type = reinterpret_cast<PyTypeObject*>(decimal_type);
    if (verdict.type != decimal_type) {
        if (verdict.type != nullptr) return {};  // a second class: only the first is known
        verdict.type = Py_NewRef(decimal_type);
        verdict.trusted = false;  // while the samples are made
        verdict.trusted = layout_trusted(type);
    }
    if (!verdict.trusted) return {};
    return make(type, negative, coefficient, exponent);
}

}  // namespace sorvel::frame
