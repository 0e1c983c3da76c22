// A call's Python key objects, one per field name, made on first use and reused for every
// record the call reads or writes.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "engine/field_kind.hpp"
#include "frame/convert.hpp"

namespace sorvel::engine {

class FieldKeys {
  public:
    explicit FieldKeys(std::span<const FieldDescriptor> descriptors)
        : descriptors_(descriptors), keys_(descriptors.size()) {}

    PyObject* key(size_t position) {
        frame::Ref& key = keys_[position];
        if (!key) {
            // Interned, the key is usually the very object a dict or an instance __dict__ holds
            // (Python interns attribute names and identifier-like literals), so lookups match
            // by identity instead of comparing text.
            PyObject* text = frame::new_str(descriptors_[position].name).release();
            PyUnicode_InternInPlace(&text);
            key = frame::Ref::steal(text);
        }
        return key.get();
    }

    // Every key, in declaration order (borrowed; they live as long as this object).
    std::vector<PyObject*> all() {
        std::vector<PyObject*> keys;
        keys.reserve(keys_.size());
        for (size_t i = 0; i < keys_.size(); ++i)
            keys.push_back(key(i));
        return keys;
    }

  private:
    std::span<const FieldDescriptor> descriptors_;
    std::vector<frame::Ref> keys_;
};

}  // namespace sorvel::engine
