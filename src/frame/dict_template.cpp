#include "frame/dict_template.hpp"

#include <cstddef>
#include <cstdint>

#include "frame/dict_layout.hpp"
#include "frame/error.hpp"

namespace sorvel::frame {

namespace {

// Whether inserting `value` would make the dict tracked: what the interpreter's own insert
// checks.
bool may_be_tracked(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    if (!PyType_IS_GC(type)) return false;  // str, int, float, bool, None: the usual values
    if (type->tp_is_gc != nullptr && !PyObject_IS_GC(value)) return false;
    return !PyTuple_CheckExact(value) || PyObject_GC_IsTracked(value);
}

}  // namespace

DictTemplate::DictTemplate(std::span<PyObject* const> keys) : keys_(keys.begin(), keys.end()) {
    // Grown from an empty dict, whose table keeps str keys in the compact two-word entries
    // (a presized dict starts with the general three-word entries).
    template_ = Ref::steal(PyDict_New());
    if (!template_) throw_fetched();
    for (PyObject* key : keys_) {
        if (PyDict_SetItem(template_.get(), key, Py_None) < 0) throw_fetched();
    }
}

bool DictTemplate::fill_in_place(PyObject* dict, std::span<PyObject* const> values) {
    auto* object = reinterpret_cast<PyDictObject*>(dict);
    // The copy must own its table: the values are stored in it.
    if (object->ma_values != nullptr || object->ma_used != Py_ssize_t(keys_.size()) ||
        object->ma_keys == reinterpret_cast<PyDictObject*>(template_.get())->ma_keys) {
        return false;
    }
    auto* head = reinterpret_cast<layout::KeysHead*>(object->ma_keys);
    if (head->kind != layout::kUnicodeKeys || head->nentries != Py_ssize_t(keys_.size()) ||
        head->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2) {
        return false;
    }
    layout::UnicodeEntry* entries = layout::unicode_entries(head);
    for (size_t i = 0; i < keys_.size(); ++i) {
        if (entries[i].key != keys_[i] || entries[i].value != Py_None) return false;
    }
    bool track = false;
    for (size_t i = 0; i < keys_.size(); ++i) {
        entries[i].value = Py_NewRef(values[i]);  // replaces None, which is immortal
        track = track || may_be_tracked(values[i]);
    }
    if (track && !PyObject_GC_IsTracked(dict)) PyObject_GC_Track(dict);
    return true;
}

Ref DictTemplate::make(std::span<PyObject* const> values) {
    if (keys_.empty()) {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) throw_fetched();
        return dict;
    }
    Ref dict = Ref::steal(PyDict_Copy(template_.get()));
    if (!dict) throw_fetched();
    if (fill_in_place(dict.get(), values)) return dict;
    for (size_t i = 0; i < keys_.size(); ++i) {
        if (PyDict_SetItem(dict.get(), keys_[i], values[i]) < 0) throw_fetched();
    }
    return dict;
}

}  // namespace sorvel::frame
