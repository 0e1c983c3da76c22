#include "engine/standard_types.hpp"

#include <cstddef>
#include <cstring>

#include "engine/exact_values.hpp"
#include "engine/python_names.hpp"
#include "frame/decimal_layout.hpp"
#include "frame/error.hpp"
#include "frame/ref.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

// A class found in an already imported module (none when it is not loaded: then no instance of
// it can exist either), kept for the life of the process once found. Looked up with the
// interpreter lock held and without call_once, so a lookup that runs Python code which comes
// back here cannot wait on itself.
PyTypeObject* loaded_class(const char* module_name, const char* class_name, PyObject*& cell) {
    if (cell != nullptr) return reinterpret_cast<PyTypeObject*>(cell);
    Ref name = Ref::steal(PyUnicode_InternFromString(module_name));
    if (!name) {
        frame::discard_error();
        return nullptr;
    }
    Ref module = Ref::steal(PyImport_GetModule(name.get()));
    if (!module) {
        if (PyErr_Occurred() != nullptr) frame::discard_error();
        return nullptr;
    }
    Ref cls = Ref::steal(PyObject_GetAttrString(module.get(), class_name));
    if (!cls || !PyType_Check(cls.get())) {
        frame::discard_error();
        return nullptr;
    }
    if (cell == nullptr) cell = cls.release();
    return reinterpret_cast<PyTypeObject*>(cell);
}

// ---------------------------------------------------------------- Decimal

using frame::decimal_layout::DecimalObject;
using frame::decimal_layout::kNegative;
using frame::decimal_layout::kSpecial;
using frame::decimal_layout::kWordBase;

// The other bits say how the storage is owned (static, shared, constant), not the value.
constexpr uint8_t kValueFlags = kNegative | kSpecial;

PyObject* decimal_cell = nullptr;
enum class Layout { Unknown, Trusted, Refused };
Layout decimal_layout = Layout::Unknown;

const DecimalObject* decimal_fields(PyObject* value) {
    return reinterpret_cast<const DecimalObject*>(value);
}

bool reads_as(PyTypeObject* type, const char* text, uint8_t flags, Py_ssize_t exp,
              Py_ssize_t digits, std::initializer_list<uint64_t> words) {
    Ref sample = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(type), "s", text));
    if (!sample) {
        frame::discard_error();
        return false;
    }
    const DecimalObject* d = decimal_fields(sample.get());
    if ((d->flags & kValueFlags) != flags || d->exp != exp || d->digits != digits ||
        d->len != Py_ssize_t(words.size()) || d->data == nullptr) {
        return false;
    }
    size_t i = 0;
    for (uint64_t word : words) {
        if (d->data[i++] != word) return false;
    }
    return true;
}

// Whether the Decimal class is the C implementation laid out as DecimalObject: checked once on
// values whose every field is known.
bool decimal_layout_trusted(PyTypeObject* type) {
    if (decimal_layout != Layout::Unknown) return decimal_layout == Layout::Trusted;
    decimal_layout = Layout::Refused;  // also while the samples are made
    const bool trusted =
        type->tp_basicsize >= Py_ssize_t(sizeof(DecimalObject)) &&
        reads_as(type, "-123.45", kNegative, -2, 5, {12345}) &&
        reads_as(type, "12345678901234567890.123", 0, -3, 23, {5678901234567890123ULL, 1234}) &&
        reads_as(type, "0E-8", 0, -8, 1, {0}) && reads_as(type, "7E+3", 0, 3, 1, {7});
    decimal_layout = trusted ? Layout::Trusted : Layout::Refused;
    return trusted;
}

// The public road for an exact Decimal when the layout is not trusted: str() and its parse,
// limited to the positional texts whose parse is exact.
std::optional<text::Decimal> decimal_from_text(PyObject* value) {
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text) {
        frame::discard_error();
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data == nullptr) {
        frame::discard_error();
        return std::nullopt;
    }
    const std::string_view view(data, size_t(size));
    if (view.find_first_not_of("+-.0123456789") != std::string_view::npos) return std::nullopt;
    auto parsed = text::parse_decimal(view);
    if (!parsed) return std::nullopt;
    return parsed.value();
}

// ---------------------------------------------------------------- UUID

PyObject* uuid_cell = nullptr;
struct UuidSlot {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;  // the class's version tag when the slot was found
    Py_ssize_t offset = -1;
};
UuidSlot uuid_slot;

// Where an exact UUID keeps its int, while the class is unchanged since it was looked up.
Py_ssize_t uuid_int_offset(PyTypeObject* type) {
    if (uuid_slot.type == type && uuid_slot.version != 0 &&
        type->tp_version_tag == uuid_slot.version) {
        return uuid_slot.offset;
    }
    uuid_slot = UuidSlot{};
    if (PyUnstable_Type_AssignVersionTag(type) == 0) return -1;
    PyObject* descriptor = _PyType_Lookup(type, names::int_());
    if (descriptor == nullptr || !Py_IS_TYPE(descriptor, &PyMemberDescr_Type)) return -1;
    const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(descriptor)->d_member;
    if (member->type != Py_T_OBJECT_EX || member->offset <= 0 ||
        member->offset + Py_ssize_t(sizeof(PyObject*)) > type->tp_basicsize) {
        return -1;
    }
    uuid_slot = UuidSlot{type, type->tp_version_tag, member->offset};
    return member->offset;
}

}  // namespace

std::optional<text::Decimal> exact_decimal(PyObject* value) {
    PyTypeObject* type = loaded_class("decimal", "Decimal", decimal_cell);
    if (type == nullptr || Py_TYPE(value) != type) return std::nullopt;
    if (!decimal_layout_trusted(type)) return decimal_from_text(value);
    const DecimalObject* d = decimal_fields(value);
    // str() is positional exactly when the exponent is at most 0 and the adjusted exponent at
    // least -6; the scale is then -exp.
    if ((d->flags & kSpecial) != 0 || d->exp > 0 || d->exp < -Py_ssize_t(text::kMaxDecimalScale) ||
        d->exp + d->digits - 1 < -6 || d->len < 1 || d->len > 2) {
        return std::nullopt;
    }
    text::u128 mantissa = d->data[0];
    if (d->len == 2) mantissa += text::u128(d->data[1]) * kWordBase;
    if (mantissa >= text::kDecimalMantissaLimit) return std::nullopt;
    return text::Decimal{mantissa, uint8_t(-d->exp), (d->flags & kNegative) != 0};
}

bool decimal_storage_trusted() { return decimal_layout == Layout::Trusted; }

std::optional<text::DecimalDigits> exact_decimal_digits(PyObject* value) {
    PyTypeObject* type = loaded_class("decimal", "Decimal", decimal_cell);
    if (type == nullptr || Py_TYPE(value) != type || !decimal_layout_trusted(type)) {
        return std::nullopt;
    }
    const DecimalObject* d = decimal_fields(value);
    // Positional text: the coefficient's digits with the point placed -exp from the right, and
    // as many zeros in front as needed; leading zeros are not counted, and a zero coefficient
    // has one digit, as libmpdec counts it.
    if ((d->flags & kSpecial) != 0 || d->exp > 0 || d->exp + d->digits - 1 < -6 || d->digits < 1) {
        return std::nullopt;
    }
    return text::DecimalDigits{uint64_t(d->digits), uint64_t(-d->exp)};
}

namespace {

// What the int slot of `value`, an exact uuid.UUID of class `type`, holds (null when it is
// empty); nullopt when the slot's place is not known.
std::optional<PyObject*> uuid_slot_value(PyObject* value, PyTypeObject* type) {
    const Py_ssize_t offset = uuid_int_offset(type);
    if (offset < 0) return std::nullopt;
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(value) + offset);
}

// The value of an exact int in 0 .. 2**128 - 1, read from its 30-bit digits (the layout of
// the headers this is built against); nullopt for any other value.
std::optional<text::u128> uint128_of(PyObject* number) {
    static_assert(PyLong_SHIFT == 30);
    const auto* value = reinterpret_cast<const PyLongObject*>(number);
    const uintptr_t tag = value->long_value.lv_tag;
    if ((tag & _PyLong_SIGN_MASK) == 2) return std::nullopt;  // negative
    const size_t count = tag >> _PyLong_NON_SIZE_BITS;
    // Five digits hold 150 bits: the fifth may use only its low 8.
    if (count > 5 || (count == 5 && value->long_value.ob_digit[4] >> 8 != 0)) return std::nullopt;
    text::u128 result = 0;
    for (size_t i = count; i-- > 0;)
        result = result << PyLong_SHIFT | value->long_value.ob_digit[i];
    return result;
}

}  // namespace

bool exact_uuid_fits(PyObject* value) {
    PyTypeObject* type = loaded_class("uuid", "UUID", uuid_cell);
    if (type == nullptr || Py_TYPE(value) != type) return false;
    const auto number = uuid_slot_value(value, type);
    if (!number) return bool(exact_uuid(value));
    return *number != nullptr && PyLong_CheckExact(*number) && uint128_of(*number).has_value();
}

std::optional<text::Uuid> exact_uuid_fast(PyObject* value) {
    PyTypeObject* type = loaded_class("uuid", "UUID", uuid_cell);
    if (type == nullptr || Py_TYPE(value) != type) return std::nullopt;
    const auto slot = uuid_slot_value(value, type);
    if (!slot) return exact_uuid(value);
    PyObject* number = *slot;
    if (number == nullptr || !PyLong_CheckExact(number)) return std::nullopt;
    const auto bits = uint128_of(number);
    if (!bits) return std::nullopt;
    text::Uuid uuid;
    for (size_t i = 0; i < 16; ++i)
        uuid.bytes[i] = uint8_t(*bits >> (8 * (15 - i)));
    return uuid;
}

}  // namespace sorvel::engine
