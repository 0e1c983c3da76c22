#include "frame/dict_item_reader.hpp"

#include <cstdint>
#include <cstring>

#include "frame/error.hpp"
#include "frame/once.hpp"

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

// Whether dicts are laid out as above: checked on dicts of known contents, including that a
// deleted entry loses its key and that a non-str key changes the table's kind.
bool layout_holds() {
    Ref first = Ref::steal(PyUnicode_InternFromString("sorvel.first"));
    Ref second = Ref::steal(PyUnicode_InternFromString("sorvel.second"));
    Ref number = Ref::steal(PyLong_FromLong(12345));
    Ref dict = Ref::steal(PyDict_New());
    Ref mixed = Ref::steal(PyDict_New());
    if (!first || !second || !number || !dict || !mixed ||
        PyDict_SetItem(dict.get(), first.get(), Py_True) < 0 ||
        PyDict_SetItem(dict.get(), second.get(), Py_False) < 0 ||
        PyDict_SetItem(mixed.get(), first.get(), Py_True) < 0 ||
        PyDict_SetItem(mixed.get(), number.get(), Py_False) < 0) {
        discard_error();
        return false;
    }
    const TableHead* head = str_table(dict.get());
    if (head == nullptr || head->entry_count != 2 || head->log2_index_bytes < head->log2_size ||
        head->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2 || str_table(mixed.get()) != nullptr) {
        return false;
    }
    const StrEntry* entries = entries_of(head);
    if (entries[0].key != first.get() || entries[0].value != Py_True ||
        entries[1].key != second.get() || entries[1].value != Py_False) {
        return false;
    }
    if (PyDict_DelItem(dict.get(), first.get()) < 0) {
        discard_error();
        return false;
    }
    head = str_table(dict.get());
    return head != nullptr && entries_of(head)[0].key == nullptr &&
           entries_of(head)[1].key == second.get();
}

bool layout_trusted() {
    static Once<bool> cell;
    return cell.get(layout_holds);
}

}  // namespace

DictItemReader::DictItemReader(std::span<PyObject* const> keys)
    : keys_(keys.begin(), keys.end()), hints_(keys.size(), 0), layout_trusted_(layout_trusted()) {
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
