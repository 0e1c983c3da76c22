// Asking for memory ahead of its reads. A walk over many records reads each one through a chain
// of pointers (the record, where it keeps its values, the values); asked for a record or more
// ahead, the misses of later records overlap the work on earlier ones. These only read (no
// Python code, no references kept), and a prefetch never faults, whatever the address.
#pragma once

#include <Python.h>

namespace sorvel::frame {

// The first two lines of an object: its header and what follows (an ordinary instance's
// attribute values, a str's text, a Decimal's digits).
inline void prefetch_object(const PyObject* object) {
    __builtin_prefetch(object);
    __builtin_prefetch(reinterpret_cast<const char*>(object) + 64);
}

// The first lines of a dict's key table (its head, index table and first entries), which a
// read of its items goes through first.
inline void prefetch_dict_table(PyObject* dict) {
    if (!PyDict_Check(dict)) return;
    const char* table =
        reinterpret_cast<const char*>(reinterpret_cast<const PyDictObject*>(dict)->ma_keys);
    for (int line = 0; line < 4; ++line)
        __builtin_prefetch(table + 64 * line);
}

}  // namespace sorvel::frame
