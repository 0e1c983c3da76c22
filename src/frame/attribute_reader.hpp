// Reading the same attributes from many objects, as the record serializers do: for each object
// the attributes of a fixed list of names, in order.
//
// PyObject_GetAttr answers through the generic lookup every time (the type's MRO cache, the
// descriptor protocol, the instance's values). For a class whose attribute access is the
// default one and that has no data descriptor (property, slot) of that name, the answer is
// the instance's __dict__ entry whenever the instance has one; only then is it read straight
// from where the instance keeps it: its inline values (instance_values.hpp), or its dict at the
// position the previous object of the class had it. The class is
// re-examined whenever its version tag changes (a class attribute was set or deleted), so
// Python code that runs between two reads cannot make a stale answer.
// Everything else (an absent entry, a deferred Django field, a custom __getattribute__ or
// __getattr__, a property) goes through PyObject_GetAttr as before.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

#include "frame/instance_values.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

class AttributeReader {
  public:
    // `names`: exact str objects that outlive the reader (a call's interned keys).
    explicit AttributeReader(std::span<PyObject* const> names);
    AttributeReader(const AttributeReader&) = delete;
    AttributeReader& operator=(const AttributeReader&) = delete;

    // getattr(object, names[i]): the value (a new reference), or null with the lookup's Python
    // exception pending, exactly as PyObject_GetAttr.
    Ref read(PyObject* object, size_t i) {
        // The common case inline: a class already examined, the value in the instance's inline
        // values.
        PyTypeObject* type = Py_TYPE(object);
        PyObject* value = nullptr;
        if (type == type_ && version_ != 0 && type->tp_version_tag == version_ && plain_ &&
            from_dict_[i] &&
            inline_.read(object, i, value) == InstanceValues::Answer::Found) {
            return Ref::borrow(value);
        }
        return read_any(object, i);
    }

    // One object's attributes read in a row, borrowed, one load each while the object keeps
    // them all inline (InstanceValues::all_inline). get(i) is getattr(object, names[i]) as a
    // borrowed reference, or null when read() must answer (for every i when the object is
    // not read this way). A Row holds only until Python code runs: take a new one after.
    class Row {
      public:
        PyObject* get(size_t i) const {
            return values_ != nullptr ? reader_->inline_.entry(values_, i) : nullptr;
        }

      private:
        friend class AttributeReader;
        const AttributeReader* reader_ = nullptr;
        const dict_layout::InlineValues* values_ = nullptr;
    };
    Row row(PyObject* object) const {
        Row row;
        PyTypeObject* type = Py_TYPE(object);
        if (type == type_ && version_ != 0 && type->tp_version_tag == version_ && plain_ &&
            all_from_dict_) {
            row.reader_ = this;
            row.values_ = inline_.all_inline(object);
        }
        return row;
    }

    // Asks for the values the reads of `object` will find to be brought into the cache.
    void prefetch(PyObject* object) const {
        if (Py_TYPE(object) == type_ && plain_) inline_.prefetch(object);
    }

  private:
    Ref read_any(PyObject* object, size_t i);
    void examine(PyTypeObject* type);
    Ref read_dict_first(PyObject* object, size_t i);

    std::vector<PyObject*> names_;
    InstanceValues inline_;
    PyTypeObject* type_ = nullptr;
    unsigned int version_ = 0;
    bool plain_ = false;              // default attribute access, instances with a __dict__
    std::vector<uint8_t> from_dict_;  // per name: the instance __dict__ answers first
    bool all_from_dict_ = false;
    std::vector<Py_ssize_t> hints_;   // per name: where the last object's __dict__ held it
};

}  // namespace sorvel::frame
