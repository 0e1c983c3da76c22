// Walking a Python list while Python code run for its items may shrink it: at most the length
// at the start, never past the current length, each item held by its own reference.
#pragma once

#include <Python.h>

#include "frame/prefetch.hpp"
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

// The same, shown ahead of time what is coming, so that memory the visits will read can be
// prefetched while earlier items are worked on: before item i is visited, `far` is given item
// i + 2 and `near` item i + 1. Both must only read (no Python code, no references kept).
template <class Visit, class Near, class Far>
void walk_list_ahead(PyObject* list, Visit&& visit, Near&& near, Far&& far) {
    const Py_ssize_t start_length = PyList_GET_SIZE(list);
    for (Py_ssize_t i = 0; i < start_length && i < PyList_GET_SIZE(list); ++i) {
        const Py_ssize_t length = PyList_GET_SIZE(list);
        if (i + 2 < length) far(PyList_GET_ITEM(list, i + 2));
        if (i + 1 < length) near(PyList_GET_ITEM(list, i + 1));
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        visit(item.get());
    }
}

}  // namespace sorvel::frame
