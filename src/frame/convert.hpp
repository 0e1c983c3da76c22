// Conversions between Python objects and native values. Each conversion throws the
// PythonError the interpreter or the frame's table gives; `parameter` adds the note that names
// the argument being converted.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

// TypeError "'<type>' object is not an instance of '<target>'" ("'None' is not ..." for None).
[[noreturn]] void throw_not_instance(PyObject* object, std::string_view target);

// Converts one argument; a failure gets the note "while processing '<name>'".
template <class Convert>
auto parameter(const char* name, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (PythonError& error) {
        error.add_note(std::string("while processing '") + name + "'");
        throw;
    }
}

inline PyObject* as_list(PyObject* object) {
    if (!PyList_Check(object)) throw_not_instance(object, "list");
    return object;
}

inline PyObject* as_dict(PyObject* object) {
    if (!PyDict_Check(object)) throw_not_instance(object, "dict");
    return object;
}

// The UTF-8 text of a str, borrowed from the object (valid while it lives).
std::string_view as_text(PyObject* object);

// An exact int is read without the detour through int.__float__ and a temporary float (same
// value, same OverflowError).
inline double as_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value =
        PyLong_CheckExact(object) ? PyLong_AsDouble(object) : PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) throw_fetched();
    return value;
}

// Strict: True/False, or a NumPy boolean scalar through its __bool__.
bool as_bool(PyObject* object);

int64_t as_i64(PyObject* object);
uint64_t as_u64(PyObject* object);
uint32_t as_u32(PyObject* object);

// What a length from Python (which any __len__ may make up) may reserve at most; longer
// sequences grow as their items arrive.
inline constexpr Py_ssize_t kMaxReservedItems = Py_ssize_t{1} << 16;

// MemoryError: an allocation that the data made fail (not an internal fault).
[[noreturn]] void throw_memory_error();

// A sequence (not a str) converted item by item; an item's own error is passed on.
template <class T, class ConvertItem>
std::vector<T> as_vector(PyObject* object, ConvertItem&& convert_item) {
    if (PyUnicode_Check(object)) throw_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) throw_not_instance(object, "Sequence");
    const Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) discard_error();
    std::vector<T> items;
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) throw_fetched();
    try {
        if (hint > 0) items.reserve(size_t(std::min(hint, kMaxReservedItems)));
        while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
            items.push_back(convert_item(item.get()));
        }
    } catch (const std::bad_alloc&) {
        throw_memory_error();
    }
    if (PyErr_Occurred() != nullptr) throw_fetched();
    return items;
}

// New Python objects from native values.
inline Ref new_str(std::string_view text) {
    return Ref::steal(must(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()))));
}
// A str of ASCII text (every byte below 0x80), made without decoding.
inline Ref new_ascii(const char* text, size_t size) {
    Ref result = Ref::steal(must(PyUnicode_New(Py_ssize_t(size), 127)));
    char* to = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result.get()));
    // The usual texts (dates, times, UUIDs, decimals) are short: two overlapping moves of a
    // fixed size compile inline, where a call to memcpy would cost more than the copy.
    if (size >= 8 && size <= 16) {
        std::memcpy(to, text, 8);
        std::memcpy(to + size - 8, text + size - 8, 8);
    } else if (size > 16 && size <= 32) {
        std::memcpy(to, text, 16);
        std::memcpy(to + size - 16, text + size - 16, 16);
    } else if (size > 32 && size <= 64) {
        std::memcpy(to, text, 32);
        std::memcpy(to + size - 32, text + size - 32, 32);
    } else if (size != 0) {
        std::memcpy(to, text, size);
    }
    return result;
}
inline Ref new_int(int64_t value) { return Ref::steal(must(PyLong_FromLongLong(value))); }
inline Ref new_uint(uint64_t value) { return Ref::steal(must(PyLong_FromUnsignedLongLong(value))); }
inline Ref new_size(Py_ssize_t value) { return Ref::steal(must(PyLong_FromSsize_t(value))); }
inline Ref new_float(double value) { return Ref::steal(must(PyFloat_FromDouble(value))); }
inline Ref new_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
inline Ref new_none() { return Ref::borrow(Py_None); }
inline Ref new_dict() { return Ref::steal(must(PyDict_New())); }
inline Ref new_list(Py_ssize_t size = 0) { return Ref::steal(must(PyList_New(size))); }

inline void dict_set(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw_fetched();
}
inline void list_append(PyObject* list, PyObject* value) {
    if (PyList_Append(list, value) < 0) throw_fetched();
}

// Fills a list made with new_list(n) from a producer of exactly n items.
class ListFiller {
  public:
    explicit ListFiller(Py_ssize_t size) : list_(new_list(size)), size_(size) {}
    void push(Ref item) {
        if (next_ >= size_)
            fault(
                "Attempted to create PyList but `elements` was larger than reported by its "
                "`size_hint` implementation.");
        PyList_SET_ITEM(list_.get(), next_++, item.release());
    }
    Ref finish() {
        if (next_ != size_) {
            fault(
                "Attempted to create PyList but `elements` was smaller than reported by its "
                "`size_hint` implementation.");
        }
        return std::move(list_);
    }

  private:
    Ref list_;
    Py_ssize_t size_;
    Py_ssize_t next_ = 0;
};

}  // namespace sorvel::frame
