#include "frame/dict_template.hpp"

#include <cstddef>
#include <cstdint>

#include "frame/dict_layout.hpp"
#include "frame/error.hpp"

namespace sorvel::frame {

DictTemplate::DictTemplate(std::span<PyObject* const> keys) : keys_(keys.begin(), keys.end()) {
    // Grown from an empty dict, whose table keeps str keys in the compact two-word entries
    // (a presized dict starts with the general three-word entries).
    template_ = Ref::steal(PyDict_New());
    if (!template_) throw_fetched();
    for (PyObject* key : keys_) {
        if (PyDict_SetItem(template_.get(), key, Py_None) < 0) throw_fetched();
    }
    trusted_ = dict_layout::trusted();
}

dict_layout::StrEntry* DictTemplate::own_entries(PyObject* dict) const {
    auto* object = reinterpret_cast<PyDictObject*>(dict);
    // The copy must own its table: the values are stored in it.
    if (!trusted_ || object->ma_values != nullptr || object->ma_used != Py_ssize_t(keys_.size()) ||
        object->ma_keys == reinterpret_cast<PyDictObject*>(template_.get())->ma_keys ||
        PyObject_GC_IsTracked(dict)) {
        return nullptr;
    }
    auto* head = reinterpret_cast<dict_layout::TableHead*>(object->ma_keys);
    if (head->kind != dict_layout::kStrKeys || head->entry_count != Py_ssize_t(keys_.size()) ||
        head->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2) {
        return nullptr;
    }
    // A copy of the template clones its table, entries in the same order; the ends are checked
    // as a guard against anything else.
    dict_layout::StrEntry* entries = dict_layout::entries_of(head);
    const size_t last = keys_.size() - 1;
    if (entries[0].key != keys_[0] || entries[last].key != keys_[last]) return nullptr;
    return entries;
}

DictTemplate::Fill DictTemplate::start() {
    if (keys_.empty()) {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) throw_fetched();
        return Fill(std::move(dict), nullptr, nullptr);
    }
    Ref dict = Ref::steal(PyDict_Copy(template_.get()));
    if (!dict) throw_fetched();
    dict_layout::StrEntry* entries = own_entries(dict.get());
    return Fill(std::move(dict), entries, keys_.data());
}

void DictTemplate::Fill::set_generic(size_t i, PyObject* value) {
    if (PyDict_SetItem(dict_.get(), keys_[i], value) < 0) throw_fetched();
}

Ref DictTemplate::Fill::done(bool cycle_free) {
    if (cycle_free) {
        // Inserting (set_generic) may have tracked it.
        if (PyObject_GC_IsTracked(dict_.get())) PyObject_GC_UnTrack(dict_.get());
    } else if (track_ && !PyObject_GC_IsTracked(dict_.get())) {
        PyObject_GC_Track(dict_.get());
    }
    return std::move(dict_);
}

Ref DictTemplate::make(std::span<PyObject* const> values) {
    Fill fill = start();
    for (size_t i = 0; i < keys_.size(); ++i)
        fill.set(i, values[i]);
    return fill.done();
}

}  // namespace sorvel::frame
