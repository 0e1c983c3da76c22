// Reading what a model instance already holds, never what it would fetch: stored values from its
// __dict__ by attname (a deferred field is simply absent there), related instances from the
// select_related cache (_state.fields_cache) and prefetched ones from
// _prefetched_objects_cache. Attribute access could run a query; none of this does.
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

// The instance's __dict__ (made if the instance had none yet); fails for other objects.
frame::Ref instance_dict(PyObject* instance, const Plan& plan);

// The raw value a column starts from: a stored value, an attribute or call result, a related
// instance (or None) or a list of related instances. For Call and Attribute columns the
// Python code runs here.
Stored read_column(const Column& column, PyObject* instance, PyObject* dict,
                   std::atomic<Py_ssize_t>& hint);

// Fails for a column read_column found missing: "the field ..." or "the relation ...".
[[noreturn]] void fail_missing(const Column& column, const char* missing);

// The primary key a Pks column writes for one related instance.
frame::Ref related_pk(const Column& column, PyObject* related);

}  // namespace sorvel::serializer
