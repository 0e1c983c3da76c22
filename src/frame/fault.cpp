#include "frame/fault.hpp"

namespace sorvel::frame {

void fault(std::string message) { throw Fault(std::move(message)); }

PyObject* must(PyObject* created) {
    if (created == nullptr) {
        if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
        fault("the interpreter failed to create an object");
    }
    return created;
}

}  // namespace sorvel::frame
