// CPython 3.13's table of a dict that keeps its own values (a combined table), as far as the
// frame reads it: the head of PyDictKeysObject, then the index table, then the entries. Code
// that reads it trusts it only when trusted() says so, and uses the public dict functions
// otherwise.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace sorvel::frame {

namespace dict_layout {

// The head of CPython 3.13's PyDictKeysObject: the index table follows it, then the entries.
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

inline constexpr uint8_t kStrKeys = 1;

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

// Whether dicts are laid out as above, checked once on dicts of known contents. Requires the
// interpreter lock.
bool trusted();

}  // namespace dict_layout

}  // namespace sorvel::frame
