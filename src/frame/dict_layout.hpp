// CPython 3.13's private layouts of dict key tables and of the attribute values an ordinary
// instance keeps inline: the head of PyDictKeysObject, then the index table, then the entries.
// Code that reads them trusts them only after checking them against the running interpreter
// (trusted() for combined tables, instance_values.cpp for inline values), and uses the public
// functions otherwise.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace sorvel::frame {

namespace dict_layout {

// The head of CPython 3.13's PyDictKeysObject: the index table follows it, then the entries.
// A class's shared keys (PyHeapTypeObject.ht_cached_keys) have the same head; their entries
// hold the keys only.
struct TableHead {
    Py_ssize_t refcnt;
    uint8_t log2_size;
    uint8_t log2_index_bytes;
    uint8_t kind;
    uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t entry_count;
};
static_assert(sizeof(TableHead) == 32);

// An entry of a table whose keys are all exact str (kind 1); a deleted entry has a null key.
struct StrEntry {
    PyObject* key;
    PyObject* value;
};

// Table kinds: all-str keys of a combined table, and a class's shared keys (values elsewhere).
inline constexpr uint8_t kStrKeys = 1;
inline constexpr uint8_t kSplitKeys = 2;

// The table of a dict that keeps its own values with exact str keys only, else null.
inline const TableHead* str_table(PyObject* dict) {
    const auto* object = reinterpret_cast<const PyDictObject*>(dict);
    if (object->ma_values != nullptr) return nullptr;
    const auto* head = reinterpret_cast<const TableHead*>(object->ma_keys);
    return head->kind == kStrKeys ? head : nullptr;
}

inline const StrEntry* entries_of(const TableHead* head) {
    return reinterpret_cast<const StrEntry*>(reinterpret_cast<const char*>(head + 1) +
                                             (size_t{1} << head->log2_index_bytes));
}
inline StrEntry* entries_of(TableHead* head) {
    return reinterpret_cast<StrEntry*>(reinterpret_cast<char*>(head + 1) +
                                       (size_t{1} << head->log2_index_bytes));
}

// Whether dicts are laid out as above, checked once on dicts of known contents. Requires the
// interpreter lock.
bool trusted();

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

}  // namespace dict_layout

}  // namespace sorvel::frame
