// Instances to dicts: one presized dict per instance, keys interned, values made straight from
// what the instance stores (exact str, int, float, bool and None pass through as themselves).
#pragma once

#include <Python.h>

#include "frame/ref.hpp"
#include "serializer/call_state.hpp"
#include "serializer/plan.hpp"

namespace sorvel::serializer {

frame::Ref row_dict(const Plan& plan, PyObject* instance, CallState& state);

}  // namespace sorvel::serializer
