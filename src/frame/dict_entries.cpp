#include "frame/dict_entries.hpp"

namespace sorvel::frame {

DictEntries str_key_entries(PyObject* dict) {
    if (!PyDict_CheckExact(dict) || !dict_layout::trusted()) return {};
    const dict_layout::TableHead* head = dict_layout::str_table(dict);
    if (head == nullptr || head->entry_count < reinterpret_cast<PyDictObject*>(dict)->ma_used) {
        return {};
    }
    return {dict_layout::entries_of(head), head->entry_count, true};
}

void prefetch_dict_values(PyObject* dict) {
    const DictEntries table = str_key_entries(dict);
    for (Py_ssize_t i = 0; i < table.count; ++i) {
        // The first lines hold a value's header, and the text of a str.
        if (const PyObject* value = table.entries[i].value) {
            __builtin_prefetch(value);
            __builtin_prefetch(reinterpret_cast<const char*>(value) + 64);
        }
    }
}

}  // namespace sorvel::frame
