#include "frame/dict_item_reader.hpp"

#include <cstring>

#include "frame/error.hpp"

namespace sorvel::frame {

namespace {

using dict_layout::entries_of;
using dict_layout::StrEntry;
using dict_layout::str_table;
using dict_layout::TableHead;

// Past this many entries a dict is asked by hash rather than searched entry by entry.
constexpr Py_ssize_t kSearchLimit = 64;

// Whether an entry's key is `key` for a lookup: both are exact str, so the same text is enough.
bool holds(const StrEntry& entry, PyObject* key) {
    PyObject* found = entry.key;
    if (found == key) return true;
    if (found == nullptr) return false;
    const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
    const int kind = PyUnicode_KIND(key);
    return PyUnicode_GET_LENGTH(found) == length && PyUnicode_KIND(found) == kind &&
           std::memcmp(PyUnicode_DATA(found), PyUnicode_DATA(key), size_t(length) * kind) == 0;
}

}  // namespace

DictItemReader::DictItemReader(std::span<PyObject* const> keys)
    : keys_(keys.begin(), keys.end()),
      hints_(keys.size()),
      layout_trusted_(dict_layout::trusted()) {
    // Before the first dict: the declaration order.
    for (size_t i = 0; i < keys_.size(); ++i)
        hints_[i] = Py_ssize_t(i);
}

PyObject* DictItemReader::search(PyObject* dict, const TableHead* head, size_t i) {
    PyObject* key = keys_[i];
    const StrEntry* entries = entries_of(head);
    const Py_ssize_t count = head->entry_count;
    const Py_ssize_t hint = hints_[i];
    if (hint < count && holds(entries[hint], key)) return entries[hint].value;
    // Only exact str keys: a search that finds no entry of the same text proves the key absent.
    if (count > kSearchLimit) return ask(dict, i);
    for (Py_ssize_t at = 0; at < count; ++at) {
        if (holds(entries[at], key)) {
            hints_[i] = at;
            return entries[at].value;
        }
    }
    return nullptr;
}

PyObject* DictItemReader::ask(PyObject* dict, size_t i) {
    PyObject* value = nullptr;
    if (PyDict_GetItemRef(dict, keys_[i], &value) < 0) throw_fetched();
    // The dict holds the value as well, and nothing runs between the lookup and the caller.
    const Ref held = Ref::steal(value);
    return held.get();
}

}  // namespace sorvel::frame
