// Private functions of module sorvel_django behind sorvel.django's input plans. They are module
// attributes but not in __all__: the public surface is the Python package.
#pragma once

#include <Python.h>

namespace sorvel::validation {

extern PyMethodDef compile_input_plan_def, validate_rows_def, render_messages_def;

}  // namespace sorvel::validation
