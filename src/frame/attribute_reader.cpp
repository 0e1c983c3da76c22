#include "frame/attribute_reader.hpp"

#include <algorithm>

namespace sorvel::frame {

AttributeReader::AttributeReader(std::span<PyObject* const> names)
    : names_(names.begin(), names.end()),
      inline_(names),
      from_dict_(names.size(), 0),
      hints_(names.size(), 0) {}

void AttributeReader::examine(PyTypeObject* type) {
    type_ = type;
    version_ = 0;
    plain_ = false;
    all_from_dict_ = false;
    // Without a version tag a change to the class could not be seen: take the generic road.
    if (PyUnstable_Type_AssignVersionTag(type) == 0) return;
    const bool has_dict =
        (type->tp_flags & Py_TPFLAGS_MANAGED_DICT) != 0 || type->tp_dictoffset != 0;
    if (type->tp_getattro != PyObject_GenericGetAttr || !has_dict) {
        version_ = type->tp_version_tag;
        return;
    }
    for (size_t i = 0; i < names_.size(); ++i) {
        // A class attribute without __set__ (a plain value, a method, Django's DeferredAttribute)
        // loses to the instance's own entry; a data descriptor wins over it.
        PyObject* attribute = _PyType_Lookup(type, names_[i]);
        from_dict_[i] = attribute == nullptr || Py_TYPE(attribute)->tp_descr_set == nullptr;
    }
    all_from_dict_ =
        std::all_of(from_dict_.begin(), from_dict_.end(), [](uint8_t b) { return b != 0; });
    plain_ = true;
    version_ = type->tp_version_tag;
}

Ref AttributeReader::read_dict_first(PyObject* object, size_t i) {
    PyObject** slot = _PyObject_GetDictPtr(object);
    PyObject* dict = slot != nullptr ? *slot : nullptr;
    if (dict == nullptr || !PyDict_CheckExact(dict)) return Ref();
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    // A name the last object lacked (a deferred field, say) is asked the generic way.
    if (hints_[i] < 0) return Ref();
    Py_ssize_t position = hints_[i];
    if (PyDict_Next(dict, &position, &key, &value) && key == names_[i]) {
        return Ref::borrow(value);
    }
    // Not where the last object had it: learn where this object keeps every name, in one pass
    // over its dict, and look again.
    std::fill(hints_.begin(), hints_.end(), -1);
    position = 0;
    Py_ssize_t before = 0;
    while (PyDict_Next(dict, &position, &key, &value)) {
        for (size_t n = 0; n < names_.size(); ++n) {
            if (key == names_[n]) hints_[n] = before;
        }
        before = position;
    }
    position = hints_[i];
    if (position >= 0 && PyDict_Next(dict, &position, &key, &value) && key == names_[i]) {
        return Ref::borrow(value);
    }
    // Absent, or held under an equal key that is another object: the generic road decides.
    return Ref();
}

Ref AttributeReader::read_any(PyObject* object, size_t i) {
    PyTypeObject* type = Py_TYPE(object);
    if (type != type_ || version_ == 0 || type->tp_version_tag != version_) examine(type);
    if (plain_ && from_dict_[i]) {
        PyObject* value = nullptr;
        switch (inline_.read(object, i, value)) {
            case InstanceValues::Answer::Found:
                return Ref::borrow(value);
            case InstanceValues::Answer::Absent:
                break;  // the class attribute, or AttributeError: the generic lookup decides
            case InstanceValues::Answer::Unknown:
                if (Ref found = read_dict_first(object, i)) return found;
                break;
        }
    }
    return Ref::steal(PyObject_GetAttr(object, names_[i]));
}

}  // namespace sorvel::frame
