#include "frame/convert.hpp"

#include <cstring>

namespace sorvel::frame {

void throw_memory_error() {
    PyErr_NoMemory();
    throw_fetched();
}

void throw_not_instance(PyObject* object, std::string_view target) {
    std::string text;
    if (object == Py_None) {
        text = "'None' is not an instance of '";
    } else {
        text = "'" + type_qualname(object) + "' object is not an instance of '";
    }
    text += target;
    text += '\'';
    throw_type_error(std::move(text));
}

std::string_view as_text(PyObject* object) {
    if (!PyUnicode_Check(object)) throw_not_instance(object, "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) throw_fetched();
    return std::string_view(data, size_t(size));
}

namespace {

// NumPy's boolean scalar type, "bool_" (NumPy 1) or "bool" (NumPy 2) in module "numpy", judged
// by the type's names so that NumPy need not be imported.
bool is_numpy_bool(PyTypeObject* type) {
    Ref module = Ref::steal(PyType_GetModuleName(type));
    if (!module || PyUnicode_Check(module.get()) == 0 ||
        PyUnicode_EqualToUTF8(module.get(), "numpy") != 1) {
        discard_error();
        return false;
    }
    Ref name = Ref::steal(PyType_GetName(type));
    const bool named = name && PyUnicode_Check(name.get()) &&
                       (PyUnicode_EqualToUTF8(name.get(), "bool_") == 1 ||
                        PyUnicode_EqualToUTF8(name.get(), "bool") == 1);
    if (!name) discard_error();
    return named;
}

}  // namespace

bool as_bool(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    PyTypeObject* type = Py_TYPE(object);
    if (is_numpy_bool(type)) {
        inquiry to_bool = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
        if (to_bool == nullptr) {
            throw_type_error("object of type '" + type_qualname(object) +
                             "' does not define a '__bool__' conversion");
        }
        const int value = to_bool(object);
        if (value < 0) throw_fetched();
        return value != 0;
    }
    throw_not_instance(object, "bool");
}

int64_t as_i64(PyObject* object) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred() != nullptr) throw_fetched();
    return value;
}

uint64_t as_u64(PyObject* object) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) throw_fetched();
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        throw_fetched();
    }
    return value;
}

uint32_t as_u32(PyObject* object) {
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred() != nullptr) throw_fetched();
    if (value < 0 || value > long(UINT32_MAX)) {
        throw PythonError(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return uint32_t(value);
}

}  // namespace sorvel::frame
