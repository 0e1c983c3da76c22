#include "frame/error.hpp"

#include <cstdio>

#include "frame/fault.hpp"
#include "frame/interned.hpp"
#include "frame/panic.hpp"
#include "frame/utf8.hpp"

namespace sorvel::frame {
namespace {

// Text of str(object), or nothing when str() raises (the exception is left pending).
bool str_text(PyObject* object, std::string& out) {
    Ref text = Ref::steal(PyObject_Str(object));
    if (!text) return false;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data != nullptr) {
        out.assign(data, size_t(size));
        return true;
    }
    // Lone surrogates: encode them as they are and decode the bytes lossily.
    PyErr_Clear();
    Ref bytes = Ref::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
    if (!bytes) return false;
    out = lossy_utf8(
        std::string_view(PyBytes_AS_STRING(bytes.get()), size_t(PyBytes_GET_SIZE(bytes.get()))));
    return true;
}

[[noreturn]] void resume_panic(Ref exception) {
    std::fputs(
        "--- Sorvel is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n",
        stderr);
    std::string message;
    if (!str_text(exception.get(), message)) {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    throw Fault(std::move(message));
}

}  // namespace

PythonError PythonError::fetch() {
    Ref exception = Ref::steal(PyErr_GetRaisedException());
    if (!exception) {
        return PythonError(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    if (Py_TYPE(exception.get()) == reinterpret_cast<PyTypeObject*>(panic_type())) {
        resume_panic(std::move(exception));
    }
    return PythonError(std::move(exception));
}

PyObject* PythonError::instance() {
    if (!instance_) {
        Ref text = Ref::steal(
            must(PyUnicode_FromStringAndSize(message_.data(), Py_ssize_t(message_.size()))));
        if (PyExceptionClass_Check(type_)) {
            instance_ = Ref::steal(PyObject_CallOneArg(type_, text.get()));
        } else {
            text =
                Ref::steal(must(PyUnicode_FromString("exceptions must derive from BaseException")));
            instance_ = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
        }
        if (!instance_) *this = fetch();
    }
    return instance_.get();
}

bool PythonError::is(PyObject* type) {
    if (!instance_) return PyObject_IsSubclass(type_, type) == 1;
    return PyErr_GivenExceptionMatches(instance_.get(), type) != 0;
}

void PythonError::add_note(std::string_view note) {
    PyObject* exception = instance();
    Ref text = Ref::steal(must(PyUnicode_FromStringAndSize(note.data(), Py_ssize_t(note.size()))));
    Ref method = Ref::steal(PyObject_GetAttr(exception, interned::add_note()));
    if (method) method = Ref::steal(PyObject_CallOneArg(method.get(), text.get()));
    if (!method) PyErr_Clear();
}

void PythonError::restore() && {
    if (instance_) {
        PyErr_SetRaisedException(instance_.release());
        return;
    }
    if (PyExceptionClass_Check(type_)) {
        Ref text = Ref::steal(
            must(PyUnicode_FromStringAndSize(message_.data(), Py_ssize_t(message_.size()))));
        PyErr_SetObject(type_, text.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

void discard_error() {
    if (PyErr_Occurred() != nullptr) PythonError::fetch();
}

void throw_fetched() { throw PythonError::fetch(); }
void throw_type_error(std::string message) {
    throw PythonError(PyExc_TypeError, std::move(message));
}
void throw_value_error(std::string message) {
    throw PythonError(PyExc_ValueError, std::move(message));
}

std::string type_qualname(PyObject* object) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    std::string text;
    if (!name || !str_text(name.get(), text)) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return text;
}

std::string error_text(PythonError& error) {
    PyObject* exception = error.instance();
    std::string text = type_qualname(exception);
    text += ": ";
    std::string message;
    if (str_text(exception, message)) {
        text += message;
    } else {
        PyErr_Clear();
        text += "<exception str() failed>";
    }
    return text;
}

std::string object_text(PyObject* object) {
    std::string text;
    if (str_text(object, text)) return text;
    PyErr_WriteUnraisable(object);
    Ref name = Ref::steal(
        PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), interned::dunder_name()));
    std::string type_name;
    if (name && PyUnicode_Check(name.get()) && str_text(name.get(), type_name)) {
        return "<unprintable " + type_name + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

}  // namespace sorvel::frame
