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
        : descriptors_(descriptors), own_(descriptors.size()) {}
    // Keys made before (a schema's record shape), one per descriptor; they outlive this.
    FieldKeys(std::span<const FieldDescriptor> descriptors, const std::vector<frame::Ref>& keys)
        : descriptors_(descriptors), made_(keys.data()) {}

    PyObject* key(size_t position) {
        if (made_ != nullptr) return made_[position].get();
        frame::Ref& key = own_[position];
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
    const frame::Ref* made_ = nullptr;
    std::vector<frame::Ref> own_;
};

}  // namespace sorvel::engine
