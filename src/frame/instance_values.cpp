#include "frame/instance_values.hpp"

#include <algorithm>

#include "frame/once.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

namespace {

bool same_name(PyObject* key, PyObject* name) {
    if (key == name) return true;
    return PyUnicode_CheckExact(key) && PyUnicode_Compare(key, name) == 0;
}

// Where the shared keys of `type` hold `name`, or -1.
int32_t index_of(dict_layout::TableHead* keys, PyObject* name) {
    dict_layout::StrEntry* entries = dict_layout::entries_of(keys);
    for (Py_ssize_t j = 0; j < keys->entry_count; ++j) {
        if (entries[j].key != nullptr && same_name(entries[j].key, name)) return int32_t(j);
    }
    return -1;
}

bool keeps_values_inline(PyTypeObject* type) {
    return (type->tp_flags & Py_TPFLAGS_INLINE_VALUES) != 0 &&
           (type->tp_flags & Py_TPFLAGS_HEAPTYPE) != 0 && type->tp_basicsize == sizeof(PyObject);
}

// The layout as this interpreter really has it: an instance of a new plain class is given two
// attributes, and they must be found where the layout says, as getattr finds them.
bool check_layout() {
#ifdef Py_GIL_DISABLED
    return false;  // values are read under per-object locks there
#else
    Ref cls = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s()N",
                                               "sorvel_layout_probe", PyDict_New()));
    Ref instance = cls ? Ref::steal(PyObject_CallNoArgs(cls.get())) : Ref();
    Ref first = Ref::steal(PyUnicode_InternFromString("first"));
    Ref second = Ref::steal(PyUnicode_InternFromString("second"));
    Ref a = Ref::steal(PyLong_FromLong(1234567));
    Ref b = Ref::steal(PyFloat_FromDouble(0.5));
    if (!instance || !first || !second || !a || !b ||
        PyObject_SetAttr(instance.get(), first.get(), a.get()) < 0 ||
        PyObject_SetAttr(instance.get(), second.get(), b.get()) < 0) {
        PyErr_Clear();
        return false;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(cls.get());
    if (Py_TYPE(instance.get()) != type || !keeps_values_inline(type)) return false;
    dict_layout::TableHead* keys = reinterpret_cast<dict_layout::TableHead*>(
        reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    if (keys == nullptr || keys->kind != dict_layout::kSplitKeys || keys->entry_count != 2 ||
        keys->log2_index_bytes > 8 * sizeof(Py_ssize_t) - 2) {
        return false;
    }
    const int32_t i = index_of(keys, first.get());
    const int32_t j = index_of(keys, second.get());
    dict_layout::InlineValues* values = dict_layout::inline_values(instance.get());
    if (i < 0 || j < 0 || i == j || values->valid != 1 || values->capacity <= std::max(i, j) ||
        values->values[i] != a.get() || values->values[j] != b.get()) {
        return false;
    }
    // Once the values move into a real dict they are no longer valid inline.
    Ref dict = Ref::steal(PyObject_GenericGetDict(instance.get(), nullptr));
    if (!dict || PyDict_SetItem(dict.get(), a.get(), b.get()) < 0) {
        PyErr_Clear();
        return false;
    }
    return values->valid == 0;
#endif
}

bool layout_holds() {
    static Once<bool> checked;
    return checked.get(check_layout);
}

}  // namespace

InstanceValues::InstanceValues(std::span<PyObject* const> names)
    : names_(names.begin(), names.end()), index_(names.size(), -1) {}

void InstanceValues::learn(PyTypeObject* type) {
    type_ = type;
    version_ = 0;
    usable_ = false;
    all_named_ = false;
    keys_ = nullptr;
    std::fill(index_.begin(), index_.end(), -1);
    // A version tag tells a later read that this is still the class learned here (tags are
    // never reused); without one, nothing is read inline.
    if (PyUnstable_Type_AssignVersionTag(type) == 0) return;
    version_ = type->tp_version_tag;
    if (!keeps_values_inline(type) || !layout_holds()) return;
    dict_layout::TableHead* keys = shared_keys(type);
    if (keys == nullptr || keys->kind != dict_layout::kSplitKeys) return;
    keys_ = keys;
    usable_ = true;
    scan();
}

void InstanceValues::scan() {
    entries_ = keys_->entry_count;
    for (size_t i = 0; i < names_.size(); ++i) {
        if (index_[i] < 0) index_[i] = index_of(keys_, names_[i]);
    }
    all_named_ =
        std::all_of(index_.begin(), index_.end(), [](int32_t index) { return index >= 0; });
    highest_index_ = index_.empty() ? 0 : *std::max_element(index_.begin(), index_.end());
}

int32_t InstanceValues::look_again(size_t i) {
    // Shared keys only grow, and a name keeps its index: only new entries can change an answer.
    if (keys_->entry_count != entries_) scan();
    return index_[i];
}

}  // namespace sorvel::frame
