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

}  // namespace sorvel::frame
