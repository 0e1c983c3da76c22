// Reading what a model instance already holds, never what it would fetch: stored values by
// attname (a deferred field is simply absent), related instances from the select_related cache
// (_state.fields_cache) and prefetched ones from _prefetched_objects_cache. Attribute access
// could run a query; none of this does.
//
// Everything is read as the instance's __dict__ holds it. A freshly loaded instance has no
// __dict__ yet: CPython keeps its values inline, and they are read there by name index
// (frame::InstanceValues) instead of making a dict for every instance. The __dict__ is asked
// for only when the values are not kept inline (a dict was made, or the class keeps none).
#pragma once

#include <Python.h>

#include <atomic>

#include "frame/ref.hpp"
#include "serializer/call_state.hpp"
#include "serializer/plan.hpp"

namespace sorvel::serializer {

struct Stored {
    frame::Ref value;               // null when missing
    const char* missing = nullptr;  // why it is missing
};

// Gives the plan's columns their indexes among the names read from instances, and the plan
// its reader of inline values. Called once the columns are in place.
void prepare_storage(Plan& plan);

// One instance of the plan's model (or a subclass), for the time one row is written.
class InstanceStorage {
  public:
    // Fails for an object that is not an instance of the plan's model.
    InstanceStorage(PyObject* instance, const Plan& plan);

    // The raw value a column starts from: a stored value, an attribute or call result, a
    // related instance (or None) or a list of related instances. For Call and Attribute
    // columns the Python code runs here.
    // Callers refresh() after a column whose writing may have run Python code.
    Stored read(const Column& column, size_t column_index) {
        // The usual case, kept inline: a stored value of an instance that keeps it inline.
        if (PyObject* value = peek(column)) return {frame::Ref::borrow(value), nullptr};
        return read_any(column, column_index);
    }

    // The stored value a column of a stored kind reads, borrowed, while the instance's values
    // are known to be inline (as the row started, or at the last refresh()); null when read()
    // must answer. Runs no Python code; the value is good until Python code runs.
    PyObject* peek(const Column& column) const {
        if (inline_ == nullptr || column.kind >= Kind::Attribute) return nullptr;
        return plan_.values->entry(inline_, column.source_name);
    }
    // After a column whose writing may have run Python code, which may have changed where the
    // instance keeps its values: they are checked again before the next peek().
    void refresh() {
        if (inline_ != nullptr) inline_ = plan_.values->all_inline(instance_);
    }

    // Why a deferred field is missing.
    static const char* const kDeferred;

  private:
    Stored read_any(const Column& column, size_t column_index);
    // What the instance's __dict__ holds under plan.names[name] (a new reference), or null.
    frame::Ref item(uint32_t name, std::atomic<Py_ssize_t>* hint);
    PyObject* dict();
    Stored related_one(const Column& column);
    Stored related_many(const Column& column);

    PyObject* instance_;
    const Plan& plan_;
    frame::Ref dict_;  // made or borrowed only when a read needs it
    // The instance's inline values when every name of the plan is found there; good until
    // Python code runs (refresh()).
    const frame::dict_layout::InlineValues* inline_ = nullptr;
};

// Fails for a column read() found missing: "the field ..." or "the relation ...".
[[noreturn]] void fail_missing(const Column& column, const char* missing);

// The primary key a Pks column writes for one related instance.
frame::Ref related_pk(const Column& column, PyObject* related);

}  // namespace sorvel::serializer
