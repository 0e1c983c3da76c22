#include "frame/uuid_from_bytes.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "frame/error.hpp"
#include "frame/once.hpp"

namespace sorvel::frame {
namespace {

__extension__ typedef unsigned __int128 u128;

u128 value_of(const std::array<unsigned char, 16>& bytes) {
    uint64_t high, low;
    std::memcpy(&high, bytes.data(), 8);
    std::memcpy(&low, bytes.data() + 8, 8);
    if constexpr (std::endian::native == std::endian::little) {
        high = __builtin_bswap64(high);
        low = __builtin_bswap64(low);
    }
    return (u128(high) << 64) | low;
}

// The int of a value of 64 bits or more from its digits; 128 bits take five 30-bit digits.
Ref from_digits(u128 value) {
    constexpr int kShift = 30;
    digit digits[5];
    Py_ssize_t count = 0;
    for (; value != 0; value >>= kShift)
        digits[count++] = digit(uint64_t(value) & ((uint64_t{1} << kShift) - 1));
    return checked(reinterpret_cast<PyObject*>(_PyLong_FromDigits(0, count, digits)));
}

Ref public_int(const std::array<unsigned char, 16>& bytes) {
    return checked(PyLong_FromUnsignedNativeBytes(bytes.data(), 16, Py_ASNATIVEBYTES_BIG_ENDIAN));
}

// Whether the digit path makes the same int, to the last field, as the public one.
bool digits_agree() {
    if (PyLong_SHIFT != 30 || sizeof(digit) != 4) return false;
    const std::array<std::array<unsigned char, 16>, 4> samples = {{
        {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
        {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
        {0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56,
         0x78},
        {0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0},
    }};
    for (const auto& sample : samples) {
        Ref made = from_digits(value_of(sample));
        Ref expected = public_int(sample);
        const auto* a = reinterpret_cast<const PyLongObject*>(made.get());
        const auto* b = reinterpret_cast<const PyLongObject*>(expected.get());
        const uintptr_t tag = a->long_value.lv_tag;
        if (Py_TYPE(made.get()) != &PyLong_Type || tag != b->long_value.lv_tag ||
            std::memcmp(a->long_value.ob_digit, b->long_value.ob_digit,
                        (tag >> _PyLong_NON_SIZE_BITS) * sizeof(digit)) != 0)
            return false;
        int equal = PyObject_RichCompareBool(made.get(), expected.get(), Py_EQ);
        if (equal != 1) {
            discard_error();
            return false;
        }
    }
    return true;
}

// Where a UUID keeps its two slots, and the value of is_safe; for the first class asked for.
struct UuidLayout {
    PyObject* type = nullptr;
    PyObject* int_descriptor = nullptr;
    PyObject* safe_descriptor = nullptr;
    PyObject* unknown = nullptr;  // SafeUUID.unknown
    Py_ssize_t int_offset = -1, safe_offset = -1;  // -1: stored through the descriptor
    // The class allocates plainly (PyType_GenericAlloc of a collected class with no hidden
    // dict storage): objects may be allocated untracked and zeroed here.
    bool plain_alloc = false;
    // Its weak reference list is kept before the object (a __weakref__ slot, as uuid.UUID has):
    // cleared here too.
    bool managed_weakref = false;
};

PyObject* descriptor(PyTypeObject* type, const char* name, Py_ssize_t& offset) {
    PyObject* found = PyDict_GetItemString(type->tp_dict, name);
    if (found == nullptr || Py_TYPE(found)->tp_descr_set == nullptr)
        throw_type_error("uuid.UUID has an unexpected layout");
    offset = -1;
    if (Py_IS_TYPE(found, &PyMemberDescr_Type)) {
        const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(found)->d_member;
        if (member->type == Py_T_OBJECT_EX && (member->flags & Py_READONLY) == 0 &&
            member->offset >= Py_ssize_t(sizeof(PyObject)) &&
            member->offset + Py_ssize_t(sizeof(PyObject*)) <= type->tp_basicsize)
            offset = member->offset;
    }
    return Py_NewRef(found);  // kept for the life of the process
}

UuidLayout find_layout(PyObject* uuid_type) {
    auto* type = reinterpret_cast<PyTypeObject*>(uuid_type);
    UuidLayout layout;
    layout.int_descriptor = descriptor(type, "int", layout.int_offset);
    layout.safe_descriptor = descriptor(type, "is_safe", layout.safe_offset);
    Ref module = checked(PyImport_ImportModule("uuid"));
    Ref safe = checked(PyObject_GetAttrString(module.get(), "SafeUUID"));
    layout.unknown = checked(PyObject_GetAttrString(safe.get(), "unknown")).release();
    // The weak reference list of a class that manages it sits four words before the object,
    // ahead of the collector's two-word header.
    constexpr Py_ssize_t kManagedWeakrefOffset = -4 * Py_ssize_t(sizeof(PyObject*));
    layout.managed_weakref = (type->tp_flags & Py_TPFLAGS_MANAGED_WEAKREF) != 0;
    layout.plain_alloc =
        type->tp_alloc == PyType_GenericAlloc && PyType_IS_GC(type) && type->tp_itemsize == 0 &&
        (type->tp_flags & (Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_INLINE_VALUES)) == 0 &&
        (!layout.managed_weakref || type->tp_weaklistoffset == kManagedWeakrefOffset) &&
        layout.int_offset >= 0 && layout.safe_offset >= 0;
    layout.type = Py_NewRef(uuid_type);
    return layout;
}

void store(PyObject* object, PyObject* descriptor, Py_ssize_t offset, PyObject* value) {
    if (offset >= 0) {
        // A fresh object's slot is empty: what the member descriptor's setter does then.
        *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + offset) =
            Py_NewRef(value);
    } else if (Py_TYPE(descriptor)->tp_descr_set(descriptor, object, value) < 0) {
        throw_fetched();
    }
}

}  // namespace

Ref int_from_bytes(const std::array<unsigned char, 16>& bytes) {
    static Once<bool> trusted;
    const u128 value = value_of(bytes);
    if (value >> 64 == 0) return checked(PyLong_FromUnsignedLongLong(uint64_t(value)));
    if (!trusted.get(digits_agree)) return public_int(bytes);
    return from_digits(value);
}

Ref uuid_from_bytes(PyObject* uuid_type, const std::array<unsigned char, 16>& bytes) {
    static Once<UuidLayout> cell;
    const UuidLayout& layout = cell.get([uuid_type] { return find_layout(uuid_type); });
    if (layout.type != uuid_type) throw_type_error("uuid.UUID was replaced");
    auto* type = reinterpret_cast<PyTypeObject*>(uuid_type);
    Ref number = int_from_bytes(bytes);
    // Its slots hold an int and an enum member and cannot be reassigned: it can never be part
    // of a reference cycle, so the collector need not visit it (it is left untracked).
    Ref object;
    if (layout.plain_alloc) {
        object = checked(_PyObject_GC_New(type));
        std::memset(reinterpret_cast<char*>(object.get()) + sizeof(PyObject), 0,
                    size_t(type->tp_basicsize) - sizeof(PyObject));
        if (layout.managed_weakref) reinterpret_cast<PyObject**>(object.get())[-4] = nullptr;
    } else {
        object = checked(type->tp_alloc(type, 0));
    }
    store(object.get(), layout.int_descriptor, layout.int_offset, number.get());
    store(object.get(), layout.safe_descriptor, layout.safe_offset, layout.unknown);
    if (PyObject_GC_IsTracked(object.get())) PyObject_GC_UnTrack(object.get());
    return object;
}

}  // namespace sorvel::frame
