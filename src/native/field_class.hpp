// The Python class Field: one field's kind, constraints and flags, fixed at construction.
#pragma once

#include <Python.h>

#include "engine/field_kind.hpp"

namespace sorvel::native {

struct FieldDefinition {
    engine::FieldKind kind;
    bool nullable = false;
    bool has_default = false;
};

PyTypeObject* field_type();

}  // namespace sorvel::native
