// Reading the same str keys from many dicts, as validating a list of dict records does: for
// each dict the items of a fixed list of keys, each in its own storage (no __getitem__ of a
// subclass is consulted).
//
// PyDict_GetItemRef hashes, probes the index table and compares every time. Dicts made by the
// same code keep their keys in the same order, so each key is first looked for at the entry
// where the previous dict held it; that entry answers only when the dict's table holds nothing
// but exact str keys (so no key's __eq__ could have answered first) and the entry's key is the
// key itself or an exact str of the same text. Anything else (another position, a table with
// other keys, a split table, an absent key) takes PyDict_GetItemRef. The table layout is
// CPython 3.13's; it is trusted only after a self-test on a dict of known contents at first
// use, else every read takes PyDict_GetItemRef.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

#include "frame/ref.hpp"

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

}  // namespace dict_layout

class DictItemReader {
  public:
    // `keys`: exact str objects that outlive the reader (a call's interned keys).
    explicit DictItemReader(std::span<PyObject* const> keys);
    DictItemReader(const DictItemReader&) = delete;
    DictItemReader& operator=(const DictItemReader&) = delete;

    // dict[keys[i]] for a dict or dict subclass, or null when the key is absent. The value is
    // borrowed from the dict: hold a reference before running Python code that could change
    // it. A lookup that raises throws its exception, exactly as PyDict_GetItemRef.
    PyObject* find(PyObject* dict, size_t i) {
        if (layout_trusted_) {
            if (const dict_layout::TableHead* head = dict_layout::str_table(dict)) {
                const Py_ssize_t hint = hints_[i];
                const dict_layout::StrEntry* entries = dict_layout::entries_of(head);
                if (hint < head->entry_count && entries[hint].key == keys_[i]) {
                    return entries[hint].value;
                }
                return search(dict, head, i);
            }
        }
        return ask(dict, i);
    }

  private:
    PyObject* search(PyObject* dict, const dict_layout::TableHead* head, size_t i);
    PyObject* ask(PyObject* dict, size_t i);

    std::vector<PyObject*> keys_;
    std::vector<Py_ssize_t> hints_;  // per key: the entry where the last dict held it
    bool layout_trusted_;
};

}  // namespace sorvel::frame
