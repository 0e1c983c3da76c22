#include "frame/dict_entries.hpp"

#include <cstdint>

#include "frame/once.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {
namespace {

using namespace dict_layout;

DictEntries read(PyObject* dict) {
    auto* object = reinterpret_cast<PyDictObject*>(dict);
    if (object->ma_values != nullptr) return {};
    auto* head = reinterpret_cast<KeysHead*>(object->ma_keys);
    if (head->kind != kStrKeys || head->nentries < object->ma_used) return {};
    const StrKeyEntry* entries = str_key_entries_of(head);
    if (entries == nullptr) return {};
    return {entries, head->nentries, true};
}

// Whether reading in place gives what PyDict_Next gives, on dicts with and without deleted
// entries.
bool agrees_with_next() {
    for (int deleted = 0; deleted < 3; ++deleted) {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return false;
        const char* names[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"};
        for (long i = 0; i < 7; ++i) {
            Ref key = Ref::steal(PyUnicode_FromString(names[i]));
            Ref value = Ref::steal(PyLong_FromLong(1000 + i));
            if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
                PyErr_Clear();
                return false;
            }
        }
        for (int d = 0; d < deleted; ++d)
            if (PyDict_DelItemString(dict.get(), names[2 * d + 1]) < 0) {
                PyErr_Clear();
                return false;
            }
        DictEntries table = read(dict.get());
        if (!table.readable) return false;
        Py_ssize_t position = 0, at = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict.get(), &position, &key, &value)) {
            while (at < table.count && table.entries[at].value == nullptr)
                ++at;
            if (at == table.count || table.entries[at].key != key ||
                table.entries[at].value != value)
                return false;
            ++at;
        }
        while (at < table.count && table.entries[at].value == nullptr)
            ++at;
        if (at != table.count) return false;
    }
    return true;
}

}  // namespace

DictEntries str_key_entries(PyObject* dict) {
    static Once<bool> trusted;
    if (!PyDict_CheckExact(dict) || !trusted.get(agrees_with_next)) return {};
    return read(dict);
}

}  // namespace sorvel::frame
