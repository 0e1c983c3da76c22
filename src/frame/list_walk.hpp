// Walking a Python list while Python code run for its items may shrink it: at most the length
// at the start, never past the current length, each item held by its own reference.
#pragma once

#include <Python.h>

#include "frame/ref.hpp"

namespace sorvel::frame {

template <class Visit>
void walk_list(PyObject* list, Visit&& visit) {
    const Py_ssize_t start_length = PyList_GET_SIZE(list);
    for (Py_ssize_t i = 0; i < start_length && i < PyList_GET_SIZE(list); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        visit(item.get());
    }
}

}  // namespace sorvel::frame
