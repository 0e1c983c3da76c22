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

// Prefetching the rows of a long list of dicts, read where they lie. Each step depends on
// memory the step before asked for (the dict, then its table, then its values), so a walk asks
// for each a row earlier than the next: the dict three rows ahead, the table two, the values
// one. They only read (no Python code, no references kept) and skip what they cannot read.
inline void prefetch_dict_table(PyObject* dict) {
    if (!PyDict_CheckExact(dict)) return;
    const char* table =
        reinterpret_cast<const char*>(reinterpret_cast<const PyDictObject*>(dict)->ma_keys);
    for (int line = 0; line < 4; ++line)
        __builtin_prefetch(table + 64 * line);
}
void prefetch_dict_values(PyObject* dict);

}  // namespace sorvel::frame
