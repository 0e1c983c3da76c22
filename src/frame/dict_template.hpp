// New dicts with the same str keys in the same order, as a serializer makes one per record.
//
// Inserting the keys of every record one by one costs a hash probe and a slot search per key.
// Instead a template dict holding the keys (values None) is made once, and each record's dict
// is its copy (PyDict_Copy clones the template's key table in one piece) with the values then
// stored straight into the copied table's entries. The table is CPython 3.13's
// combined-table layout (dict_layout.hpp, checked once per process); each copy is checked (its
// own table, its kind, entry count and end keys) before a value is stored, and any mismatch
// falls back to PyDict_SetItem on the copy, so a different layout costs speed, never
// correctness. Garbage-collector tracking is kept as inserting would keep it.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "frame/dict_layout.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

class DictTemplate {
  public:
    // `keys`: distinct exact str objects, in the order the dicts list them; they outlive the
    // template (a call's interned keys).
    explicit DictTemplate(std::span<PyObject* const> keys);
    DictTemplate(const DictTemplate&) = delete;
    DictTemplate& operator=(const DictTemplate&) = delete;

    // One new dict, every key mapped to None until its value is set. The dict stays untracked
    // by the garbage collector (so no Python code can reach it) until done().
    class Fill {
      public:
        // The value of keys[i] (borrowed; the dict takes its own reference). Each key is set at
        // most once.
        void set(size_t i, PyObject* value) { set(i, Ref::borrow(value)); }
        // The same, taking over the reference `value` holds.
        void set(size_t i, Ref value) {
            if (entries_ != nullptr) [[likely]] {
                track_ = track_ || may_be_tracked(value.get());
                entries_[i].value = value.release();  // replaces None, which is immortal
            } else {
                set_generic(i, value.get());
            }
        }
        // The finished dict. `cycle_free`: the caller knows that none of the values can lead
        // back to the dict (a Decimal, a UUID), so the collector does not track it.
        Ref done(bool cycle_free = false);

      private:
        friend class DictTemplate;
        Fill(Ref dict, dict_layout::StrEntry* entries, PyObject* const* keys)
            : dict_(std::move(dict)), entries_(entries), keys_(keys) {}
        void set_generic(size_t i, PyObject* value);

        Ref dict_;
        dict_layout::StrEntry* entries_;  // the copy's own entries, or null: PyDict_SetItem
        PyObject* const* keys_;
        bool track_ = false;
    };

    Fill start();

    // A new dict mapping keys[i] to values[i] (borrowed, one per key), in key order.
    Ref make(std::span<PyObject* const> values);

    // Whether storing `value` in a dict would make the interpreter track the dict.
    static bool may_be_tracked(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (!PyType_IS_GC(type)) return false;  // str, int, float, bool, None: the usual values
        if (type->tp_is_gc != nullptr && !PyObject_IS_GC(value)) return false;
        return !PyTuple_CheckExact(value) || PyObject_GC_IsTracked(value);
    }

  private:
    dict_layout::StrEntry* own_entries(PyObject* dict) const;

    std::vector<PyObject*> keys_;
    Ref template_;
    bool trusted_ = false;  // the interpreter's dict tables are laid out as dict_layout says
};

}  // namespace sorvel::frame
