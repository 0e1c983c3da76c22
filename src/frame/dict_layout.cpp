#include "frame/dict_layout.hpp"

#include "frame/error.hpp"
#include "frame/once.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame::dict_layout {

namespace {

// Whether dicts are laid out as the header says, on dicts of known contents: including that a
// deleted entry loses its key and value and that a non-str key changes the table's kind.
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
        head->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2 ||
        str_table(mixed.get()) != nullptr) {
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
           entries_of(head)[0].value == nullptr && entries_of(head)[1].key == second.get();
}

}  // namespace

bool trusted() {
    static Once<bool> cell;
    return cell.get(layout_holds);
}

}  // namespace sorvel::frame::dict_layout
