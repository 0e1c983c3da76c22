#include "frame/interned.hpp"

#include "frame/fault.hpp"
#include "frame/once.hpp"

namespace sorvel::frame::interned {
namespace {

Once<PyObject*> name_cell, all_cell, note_cell;

}  // namespace

PyObject* get(Once<PyObject*>& cell, const char* text) {
    return cell.get([text] { return must(PyUnicode_InternFromString(text)); });
}

PyObject* dunder_name() { return get(name_cell, "__name__"); }
PyObject* dunder_all() { return get(all_cell, "__all__"); }
PyObject* add_note() { return get(note_cell, "add_note"); }

}  // namespace sorvel::frame::interned
