#include "serializer/failure.hpp"

#include "frame/convert.hpp"
#include "serializer/plan.hpp"

namespace sorvel::serializer {

using frame::Ref;

void fail(std::string reason) { throw Failure{{}, std::move(reason), {}}; }

void fail_python(frame::PythonError& error) {
    std::string reason = frame::error_text(error);
    throw Failure{{}, std::move(reason), Ref::borrow(error.instance())};
}

void fail_fetched() {
    frame::PythonError error = frame::PythonError::fetch();
    fail_python(error);
}

void prefix_key(Failure& failure, PyObject* key) {
    std::string path(frame::as_text(key));
    if (!failure.path.empty() && failure.path.front() != '[') path.push_back('.');
    failure.path.insert(0, path);
}

void prefix_index(Failure& failure, Py_ssize_t index) {
    std::string path(1, '[');
    path.append(std::to_string(index));
    path.push_back(']');
    if (!failure.path.empty() && failure.path.front() != '[') path.push_back('.');
    failure.path.insert(0, path);
}

void raise_failure(const Plan& plan, Py_ssize_t row, Failure& failure) {
    std::string message;
    if (row >= 0) {
        message = "row ";
        message += std::to_string(row);
        message += failure.path.empty() ? ": " : ", ";
    }
    if (!failure.path.empty()) message += "field '" + failure.path + "': ";
    message += failure.reason;
    Ref text = frame::new_str(message);
    Ref row_object = row >= 0 ? frame::new_size(row) : frame::new_none();
    Ref field = failure.path.empty() ? frame::new_none() : frame::new_str(failure.path);
    PyObject* args[] = {text.get(), row_object.get(), field.get()};
    Ref error = Ref::steal(PyObject_Vectorcall(plan.error_class.get(), args, 3, nullptr));
    if (!error) frame::throw_fetched();
    if (failure.cause) PyException_SetCause(error.get(), failure.cause.release());
    PyErr_SetRaisedException(error.release());
    frame::throw_fetched();
}

std::string type_name(PyObject* value) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(value)));
    Py_ssize_t size = 0;
    const char* data = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (data == nullptr) {
        frame::discard_error();
        return "unknown";
    }
    return std::string(data, size_t(size));
}

}  // namespace sorvel::serializer
