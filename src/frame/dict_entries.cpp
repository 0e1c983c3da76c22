#include "frame/dict_entries.hpp"

#include "frame/prefetch.hpp"

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
        if (const PyObject* value = table.entries[i].value) prefetch_object(value);
    }
}

}  // namespace sorvel::frame
