// The messages of an input plan's error records (see input_plan.hpp), shaped as
// ValidationResult.errors gives them.
#pragma once

#include <Python.h>

#include "frame/ref.hpp"

namespace sorvel::validation {

// {row: {field name: [message, ...]}}, or {field name: [...]} when not `many`. `names` is the
// tuple of the plan's field names; `entries` per field a dict from message key to how its text
// was resolved for the active language, filled by `resolve(position, key)`; `plural_text
// (position, key, number)` gives a plural form's text, `render_other(position, key, params)`
// renders what has no text of its own, and `render_django(error)` a ValidationError's message.
frame::Ref render_messages(PyObject* records, PyObject* names, PyObject* entries, PyObject* resolve,
                           PyObject* plural_text, PyObject* render_other, PyObject* render_django,
                           bool many);

}  // namespace sorvel::validation
