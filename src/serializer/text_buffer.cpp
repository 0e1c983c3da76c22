#include "serializer/text_buffer.hpp"

#include <Python.h>

#include "frame/error.hpp"
#include "frame/fault.hpp"

namespace sorvel::serializer {

void TextBuffer::grow(size_t count) {
    size_t capacity = capacity_ < 256 ? 256 : capacity_;
    while (capacity - size_ < count) {
        if (capacity > (size_t(PY_SSIZE_T_MAX) >> 1))
            throw frame::PythonError(PyExc_MemoryError, "");
        capacity *= 2;
    }
    if (for_bytes_) {
        PyObject* bytes = bytes_.release();
        if (bytes == nullptr) {
            bytes = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(capacity));
            if (bytes == nullptr) frame::throw_fetched();
        } else if (_PyBytes_Resize(&bytes, Py_ssize_t(capacity)) < 0) {
            data_ = nullptr;  // freed with the object
            size_ = capacity_ = 0;
            frame::throw_fetched();
        }
        bytes_ = frame::Ref::steal(bytes);
        data_ = PyBytes_AS_STRING(bytes);
        capacity_ = capacity;
        return;
    }
    char* data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) throw frame::PythonError(PyExc_MemoryError, "");
    data_ = data;
    capacity_ = capacity;
}

frame::Ref TextBuffer::take_bytes() {
    if (!bytes_) {
        return frame::Ref::steal(frame::must(PyBytes_FromStringAndSize(data_, Py_ssize_t(size_))));
    }
    PyObject* bytes = bytes_.release();
    data_ = nullptr;
    const size_t size = size_;
    size_ = capacity_ = 0;
    // Shrinking in place; the object is no one else's yet.
    if (_PyBytes_Resize(&bytes, Py_ssize_t(size)) < 0) frame::throw_fetched();
    return frame::Ref::steal(bytes);
}

}  // namespace sorvel::serializer
