// The entries of a dict read in place, in insertion order, without a call per entry.
//
// PyDict_Next costs a call and its checks for every entry; a row of request data is walked once
// per field. A dict whose keys are all exact str keeps them in CPython 3.13's combined table as
// (key, value) pairs after its index table; that layout is checked once, at first use
// (dict_layout::trusted), and any other dict, or a failed check, is left to the caller's
// PyDict_Next.
#pragma once

#include <Python.h>

#include "frame/dict_layout.hpp"

namespace sorvel::frame {

using DictEntry = dict_layout::StrEntry;  // key and value null for a deleted entry

// The entries of an exact dict with exact str keys, deleted ones included (their value is null),
// as {pointer, count}; {nullptr, 0} when the dict cannot be read this way. Valid until the dict
// changes (no Python code may run while they are used).
struct DictEntries {
    const DictEntry* entries = nullptr;
    Py_ssize_t count = 0;
    bool readable = false;
};
DictEntries str_key_entries(PyObject* dict);

// The first lines of the values of a dict readable as above (frame::prefetch_object each). Its
// table is read now, so it is best asked for a step earlier (frame::prefetch_dict_table). Other
// dicts and objects are skipped.
void prefetch_dict_values(PyObject* dict);

}  // namespace sorvel::frame
