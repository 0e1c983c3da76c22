// Validation rules with Django's wording, and the report they produce.
#pragma once

#include <Python.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_kind.hpp"
#include "engine/field_value.hpp"
#include "frame/ref.hpp"

namespace sorvel::engine {

struct Param {
    std::string_view key;
    std::string value;  // a number, already written as text
};

struct FieldError {
    std::string_view field;  // the descriptor's name; descriptors outlive their report
    std::string message;
    std::string_view code;
    std::array<Param, 2> params;
    uint8_t param_count = 0;
};

struct ValidationReport {
    std::vector<FieldError> errors;
    size_t valid_count = 0;
    size_t error_count = 0;
};

// One field of a record, ready for checking off the interpreter's thread.
struct ValidationPair {
    const FieldDescriptor* descriptor;
    FieldValue value;
};

// Records with this many fields are checked on the worker pool.
inline constexpr size_t kParallelFieldThreshold = 128;

// Appends the errors of one value. Pure: callable on any thread.
void validate_value(const FieldDescriptor& descriptor, const FieldValue& value,
                    std::vector<FieldError>& errors);

// Appends the errors of one raw value of a dict record (present, not None) without building a
// FieldValue. Requires the interpreter lock; never raises for the value itself.
void validate_dict_value(const FieldDescriptor& descriptor, PyObject* value,
                         std::vector<FieldError>& errors);

// The "This field is required." error.
FieldError required_error(const FieldDescriptor& descriptor);

// Checks a record's pairs, on the pool from kParallelFieldThreshold pairs on.
ValidationReport validate_record_values(std::span<const ValidationPair> pairs);

// valid_count and error_count of `errors` for `checked` validated fields.
ValidationReport make_report(std::vector<FieldError> errors, size_t checked);

frame::Ref build_report(const ValidationReport& report);

}  // namespace sorvel::engine
