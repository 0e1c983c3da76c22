// CPython 3.13's private layouts of dict key tables and of the attribute values an ordinary
// instance keeps inline. Only code that checks them against the running interpreter first may
// rely on them (dict_template.cpp per dict, instance_values.cpp once per process); anything that
// does not match falls back to the public API.
// The shared keys of a class (PyHeapTypeObject.ht_cached_keys) have the same head; their
// entries hold the keys only.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace sorvel::frame::layout {

// The head of a PyDictKeysObject; the index table follows it, then the entries.
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

// An entry of a table whose keys are all str.
struct UnicodeEntry {
    PyObject* key;
    PyObject* value;
};

// Table kinds: all-str keys of a combined table, and a class's shared keys (values elsewhere).
constexpr uint8_t kUnicodeKeys = 1;
constexpr uint8_t kSplitKeys = 2;

inline UnicodeEntry* unicode_entries(KeysHead* head) {
    return reinterpret_cast<UnicodeEntry*>(reinterpret_cast<char*>(head + 1) +
                                           (size_t{1} << head->log2_index_bytes));
}

// The values of an instance whose class keeps them inline (Py_TPFLAGS_INLINE_VALUES): right
// after the object header, indexed like the entries of the class's shared keys.
struct InlineValues {
    uint8_t capacity;
    uint8_t size;
    uint8_t embedded;
    uint8_t valid;  // 0 once the values moved into a real dict
    PyObject* values[1];
};

inline InlineValues* inline_values(PyObject* object) {
    return reinterpret_cast<InlineValues*>(reinterpret_cast<char*>(object) + sizeof(PyObject));
}

}  // namespace sorvel::frame::layout
