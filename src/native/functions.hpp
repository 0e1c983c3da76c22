// Method records of module _native, one per function, each defined beside its function.
#pragma once

#include <Python.h>

namespace sorvel::native {

extern PyMethodDef serialize_def, serialize_many_def, validate_def, validate_many_def,
    validate_names_batch_def, validate_ids_batch_def, compute_risk_batch_def, batch_stats_def,
    version_def;

}  // namespace sorvel::native
