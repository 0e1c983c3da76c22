#include "frame/native_class.hpp"

#include <cstring>
#include <string>

namespace sorvel::frame {

const char* class_name(const char* dotted) {
    const char* dot = std::strrchr(dotted, '.');
    return dot != nullptr ? dot + 1 : dotted;
}

PyTypeObject* class_type(Once<PyTypeObject*>& cell, PyType_Spec& spec) {
    return cell.get([&spec] {
        PyObject* type = PyType_FromSpec(&spec);
        if (type == nullptr) {
            PythonError cause = PythonError::fetch();
            PythonError error(
                PyExc_RuntimeError,
                std::string("An error occurred while initializing class ") + class_name(spec.name));
            PyException_SetCause(error.instance(), Ref::borrow(cause.instance()).release());
            throw error;
        }
        return reinterpret_cast<PyTypeObject*>(type);
    });
}

}  // namespace sorvel::frame
