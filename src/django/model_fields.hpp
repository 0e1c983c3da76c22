// Reading a Django model class into field descriptors, and the descriptor dict format in both
// directions.
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <vector>

#include "django/field_type.hpp"
#include "frame/ref.hpp"

namespace sorvel::django {

// The supported, non-relational fields of the model in _meta.get_fields() order.
std::vector<DjangoFieldDescriptor> read_model_fields(PyObject* model_class);

// Stores the payload the descriptor's type carries, substituting the defaults of the text and
// decimal types for values that could not be read.
void set_payload(DjangoFieldDescriptor& d, std::optional<uint64_t> max_length,
                 std::optional<uint32_t> max_digits, std::optional<uint32_t> decimal_places);

frame::Ref descriptors_to_dicts(std::span<const DjangoFieldDescriptor> descriptors);

// `list` must be a Python list of mappings; a missing or ill-typed required key raises the
// interpreter's or the frame's error unchanged.
std::vector<DjangoFieldDescriptor> descriptors_from_dicts(PyObject* list);

}  // namespace sorvel::django
