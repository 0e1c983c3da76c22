#include "frame/interned.hpp"

#include "frame/fault.hpp"
#include "frame/once.hpp"

namespace sorvel::frame::interned {
namespace {

PyObject* intern(Once<PyObject*>& cell, const char* text) {
    return cell.get([text] { return must(PyUnicode_InternFromString(text)); });
}

Once<PyObject*> name_cell, all_cell, note_cell;

}  // namespace

PyObject* dunder_name() { return intern(name_cell, "__name__"); }
PyObject* dunder_all() { return intern(all_cell, "__all__"); }
PyObject* add_note() { return intern(note_cell, "add_note"); }

}  // namespace sorvel::frame::interned
