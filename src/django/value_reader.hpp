// Reading one value of a model instance (or a values_list() cell, or a legacy values entry)
// into a FieldValue, by the field's Django type.
#pragma once

#include <Python.h>

#include "django/field_type.hpp"
#include "engine/field_value.hpp"

namespace sorvel::django {

// None reads as Null for every type; other failures raise the DjangoError of the type.
engine::FieldValue read_django_value(PyObject* value, const DjangoFieldDescriptor& descriptor);

}  // namespace sorvel::django
