// CPython 3.13's combined dict table, for code that reads or fills it in place behind a check
// at first use: the head of PyDictKeysObject, then the index table, then the entries.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace sorvel::frame::dict_layout {

struct KeysHead {
    Py_ssize_t refcnt;
    uint8_t log2_size;
    uint8_t log2_index_bytes;
    uint8_t kind;
    uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t nentries;
};
static_assert(sizeof(KeysHead) == 32);

// An entry of a table whose keys are all exact str (the table kind 1).
struct StrKeyEntry {
    PyObject* key;
    PyObject* value;
};

constexpr uint8_t kStrKeys = 1;

// The entries of a table of kind kStrKeys; null when its index table is implausibly large.
inline StrKeyEntry* str_key_entries_of(KeysHead* head) {
    if (head->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2) return nullptr;
    return reinterpret_cast<StrKeyEntry*>(reinterpret_cast<char*>(head + 1) +
                                          (size_t{1} << head->log2_index_bytes));
}

}  // namespace sorvel::frame::dict_layout
