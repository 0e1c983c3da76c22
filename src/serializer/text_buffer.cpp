#include "serializer/text_buffer.hpp"

#include <Python.h>

#include "frame/error.hpp"

namespace sorvel::serializer {

void TextBuffer::grow(size_t count) {
    size_t capacity = capacity_ < 256 ? 256 : capacity_;
    while (capacity - size_ < count) {
        if (capacity > (size_t(PY_SSIZE_T_MAX) >> 1))
            throw frame::PythonError(PyExc_MemoryError, "");
        capacity *= 2;
    }
    char* data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) throw frame::PythonError(PyExc_MemoryError, "");
    data_ = data;
    capacity_ = capacity;
}

}  // namespace sorvel::serializer
