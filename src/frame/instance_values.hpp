// An instance's own attribute values, read where CPython 3.13 keeps them for ordinary classes.
//
// An instance of a plain Python class (a Django model among them) has no __dict__ until
// something asks for one: its values sit inline after the object header, in the order of its
// class's shared key table. PyObject_GetAttr finds a name there through a hash lookup in that
// table, and asking for __dict__ makes a whole dict around the values. This reader learns, once
// per class, where each name sits in the shared keys, and then reads an entry with one load,
// answering exactly what the instance's __dict__ would hold for that name.
//
// The layout is checked once per process on an instance of a class made for the purpose; if the
// running interpreter disagrees, every answer is Unknown and callers keep the public road.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

#include "frame/dict_layout.hpp"
#include "frame/prefetch.hpp"

namespace sorvel::frame {

class InstanceValues {
  public:
    enum class Answer : uint8_t {
        Found,    // the instance's __dict__ holds `value` (borrowed) under the name
        Absent,   // it holds nothing under the name
        Unknown,  // not kept inline (a class without inline values, or a real dict made):
                  // ask the instance's __dict__
    };

    // `names`: exact, interned str objects that outlive the reader.
    explicit InstanceValues(std::span<PyObject* const> names);
    InstanceValues(const InstanceValues&) = delete;
    InstanceValues& operator=(const InstanceValues&) = delete;

    // Needs the interpreter lock; runs no Python code.
    Answer read(PyObject* object, size_t i, PyObject*& value) {
        PyTypeObject* type = Py_TYPE(object);
        if (type != type_ || type->tp_version_tag != version_) learn(type);
        if (!usable_) return Answer::Unknown;
        if (shared_keys(type) != keys_) {
            learn(type);
            if (!usable_) return Answer::Unknown;
        }
        dict_layout::InlineValues* values = dict_layout::inline_values(object);
        if (!values->valid) return Answer::Unknown;
        int32_t index = index_[i];
        if (index < 0) index = look_again(i);
        if (index < 0) return Answer::Absent;
        if (index >= values->capacity) return Answer::Unknown;
        value = values->values[index];
        return value != nullptr ? Answer::Found : Answer::Absent;
    }

    // For reading every name of one object in a row: its inline values when the class is the
    // one learned and every name has its place there, so that entry(values, i) is what read()
    // would give for names[i] (null: Absent); null otherwise. Runs no Python code; the answer
    // holds until Python code runs.
    const dict_layout::InlineValues* all_inline(PyObject* object) const {
        PyTypeObject* type = Py_TYPE(object);
        if (!usable_ || !all_named_ || type != type_ || type->tp_version_tag != version_ ||
            shared_keys(type) != keys_) {
            return nullptr;
        }
        const dict_layout::InlineValues* values = dict_layout::inline_values(object);
        if (!values->valid || highest_index_ >= values->capacity) return nullptr;
        return values;
    }
    PyObject* entry(const dict_layout::InlineValues* values, size_t i) const {
        return values->values[index_[i]];
    }

    // Asks for the value objects `object` holds under the names to be brought into the cache,
    // when its class is the one learned; reads only (the first two lines of each: a Decimal
    // keeps its digits, a datetime may keep its fields, past the first).
    void prefetch(PyObject* object) const {
        // The same class as learned: the pointer alone could be a new class at a freed one's
        // address, its version tag cannot.
        PyTypeObject* type = Py_TYPE(object);
        if (!usable_ || type != type_ || type->tp_version_tag != version_ ||
            shared_keys(type) != keys_) {
            return;
        }
        const dict_layout::InlineValues* values = dict_layout::inline_values(object);
        if (!values->valid) return;
        for (int32_t index : index_) {
            if (index >= 0 && index < values->capacity && values->values[index] != nullptr)
                prefetch_object(values->values[index]);
        }
    }

  private:
    // Only for heap types.
    static dict_layout::TableHead* shared_keys(PyTypeObject* type) {
        return reinterpret_cast<dict_layout::TableHead*>(
            reinterpret_cast<PyHeapTypeObject*>(type)->ht_cached_keys);
    }
    void learn(PyTypeObject* type);
    int32_t look_again(size_t i);
    void scan();

    std::vector<PyObject*> names_;
    PyTypeObject* type_ = nullptr;
    unsigned int version_ = 0;
    bool usable_ = false;
    dict_layout::TableHead* keys_ = nullptr;  // the class's shared keys
    Py_ssize_t entries_ = 0;                  // how many names they held when last looked at
    std::vector<int32_t> index_;              // per name: its index in the shared keys, or -1
    bool all_named_ = false;                  // every name has an index
    int32_t highest_index_ = 0;
};

}  // namespace sorvel::frame
