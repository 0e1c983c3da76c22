// Reading the same str keys from many dicts, as validating a list of dict records does: for
// each dict the items of a fixed list of keys, each in its own storage (no __getitem__ of a
// subclass is consulted).
//
// PyDict_GetItemRef hashes, probes the index table and compares every time. Dicts made by the
// same code keep their keys in the same order, so each key is first looked for at the entry
// where the previous dict held it; that entry answers only when the dict's table holds nothing
// but exact str keys (so no key's __eq__ could have answered first) and the entry's key is the
// key itself or an exact str of the same text. Otherwise a small table of exact str keys is
// searched entry by entry (finding the key's new place, or proving it absent), and anything
// else (a large table, one with other keys, a split table) takes PyDict_GetItemRef, as does
// every read when the table layout (frame/dict_layout.hpp) is not trusted.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "frame/dict_layout.hpp"
#include "frame/prefetch.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

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

    // Asks for the key table of `dict` (its head and first entries) to be brought into the
    // cache, before its items are read; reads only.
    void prefetch(PyObject* dict) const {
        if (layout_trusted_) prefetch_dict_table(dict);
    }

  private:
    PyObject* search(PyObject* dict, const dict_layout::TableHead* head, size_t i);
    PyObject* ask(PyObject* dict, size_t i);

    std::vector<PyObject*> keys_;
    std::vector<Py_ssize_t> hints_;  // per key: the entry where the last dict held it
    bool layout_trusted_;
};

}  // namespace sorvel::frame
