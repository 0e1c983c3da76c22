#include "frame/native_class.hpp"

#include <string>

namespace sorvel::frame {

PyTypeObject* class_type(Once<PyTypeObject*>& cell, PyType_Spec& spec) {
    return cell.get([&spec] {
        PyObject* type = PyType_FromSpec(&spec);
        if (type == nullptr) {
            PythonError cause = PythonError::fetch();
            PythonError error(PyExc_RuntimeError,
                              std::string("An error occurred while initializing class ") +
                                  spec.name);
            PyException_SetCause(error.instance(), Ref::borrow(cause.instance()).release());
            throw error;
        }
        // A spec name without a module part leaves __module__ unset on a heap type; the
        // classes read as built-ins, like the interpreter's own types.
        Ref module = Ref::steal(must(PyUnicode_FromString("builtins")));
        if (PyObject_SetAttrString(type, "__module__", module.get()) < 0) {
            PyErr_WriteUnraisable(type);
            fault("could not set __module__ of a native class");
        }
        return reinterpret_cast<PyTypeObject*>(type);
    });
}

}  // namespace sorvel::frame
