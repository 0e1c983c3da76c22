// Instances to JSON text, written straight into one growing buffer: no dict, list or str is made
// for the output, only the text forms of the values.
#pragma once

#include <Python.h>

#include "serializer/call_state.hpp"
#include "serializer/plan.hpp"

namespace sorvel::serializer {

void write_row(TextBuffer& out, const Plan& plan, PyObject* instance, CallState& state);

}  // namespace sorvel::serializer
