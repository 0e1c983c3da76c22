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
    // Keys made before (a schema's record shape), one per descriptor.
    FieldKeys(std::span<const FieldDescriptor> descriptors, const std::vector<frame::Ref>& keys)
        : descriptors_(descriptors), keys_(keys) {}

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

  private:
    std::span<const FieldDescriptor> descriptors_;
    std::vector<frame::Ref> keys_;
};

}  // namespace sorvel::engine
