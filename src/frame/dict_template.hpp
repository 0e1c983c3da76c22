// New dicts with the same str keys in the same order, as a serializer makes one per record.
//
// Inserting the keys of every record one by one costs a hash probe and a slot search per key.
// Instead a template dict holding the keys (values None) is made once, and each record's dict
// is its copy (PyDict_Copy clones the template's key table in one piece) with the values then
// stored into the copied table's entries, in key order. The table is CPython 3.13's
// combined-table layout; each copy is checked (table kind, entry count, and every entry's key
// by identity) before a value is stored, and any mismatch falls back to PyDict_SetItem on the
// copy, so a different layout costs speed, never correctness. Garbage-collector tracking is
// kept as inserting would keep it.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "frame/ref.hpp"

namespace sorvel::frame {

class DictTemplate {
  public:
    // `keys`: distinct exact str objects, in the order the dicts list them; they outlive the
    // template (a call's interned keys).
    explicit DictTemplate(std::span<PyObject* const> keys);
    DictTemplate(const DictTemplate&) = delete;
    DictTemplate& operator=(const DictTemplate&) = delete;

    // A new dict mapping keys[i] to values[i] (borrowed, one per key), in key order.
    Ref make(std::span<PyObject* const> values);

  private:
    bool fill_in_place(PyObject* dict, std::span<PyObject* const> values);

    std::vector<PyObject*> keys_;
    Ref template_;
};

}  // namespace sorvel::frame
