// An input plan: how request data for a set of model fields is cleaned the way Django's
// Model.clean_fields() cleans an instance, compiled once from field specs that the Python side
// derives from the model. Fast checks run here; what only Django can decide is delegated to a
// Python callable of the field, on that field's values only.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/dict_template.hpp"
#include "frame/ref.hpp"

namespace sorvel::validation {

// What the model field's to_python() makes of a value.
// `identity` keeps the value (Field.to_python); `python` converts through the field's own
// to_python() and checks here; `slow` leaves the whole of clean() to Django.
enum class Kind {
    text,
    integer,
    floating,
    decimal,
    boolean,
    date,
    datetime,
    time,
    uuid,
    json,
    identity,
    python,
    slow
};

enum class CheckKind {
    max_length,
    min_length,
    min_value,
    max_value,
    decimal,
    email,
    url,
    slug,
    ipv46
};

// One of the field's validators, in the field's order.
struct Check {
    CheckKind kind = CheckKind::max_length;
    frame::Ref key;    // names the message in the Python side's table
    int64_t size = 0;  // max_length, min_length
    frame::Ref limit;  // min_value, max_value
    bool limit_is_int = false;
    int64_t limit_int = 0;
    int64_t max_digits = -1, decimal_places = -1;  // decimal; -1 for None
    frame::Ref whole_key, places_key;              // decimal's other two messages
    std::vector<std::string> words;                // email allow-list, URL schemes
    frame::Ref fallback;  // the Django validator, for text this check leaves to it
};

struct FieldPlan {
    frame::Ref key;      // the request-data key (the field name)
    frame::Ref attname;  // the attribute read from an instance and the key of cleaned data
    Kind kind = Kind::slow;
    bool blank = false, null = false, editable = true;
    frame::Ref missing;     // None: an absent key is left to the model; else a list of errors
    frame::Ref convert;     // value -> (python value, None) | (None, ValidationError)
    frame::Ref choices;     // a frozenset of the accepted values, or null
    frame::Ref validators;  // value -> list of ValidationError, for fields with other validators
    frame::Ref clean;       // slow fields: value -> (cleaned, None) | (None, ValidationError)
    frame::Ref json_check;  // json: value -> ValidationError | None, for values not plainly JSON
    std::vector<Check> checks;
    // No choices, blank values, JSON or Python validators to consider: cleaning reduces to
    // convert, null and blank, then the checks.
    bool plain = false;
};

struct InputPlan {
    std::vector<FieldPlan> fields;
    // Makes the cleaned dict of a row that has every field, keys in field order; null when an
    // attname is not an exact str.
    std::unique_ptr<frame::DictTemplate> output;
};

// Builds a plan from a list of spec dicts (see python/sorvel/django/validation.py).
InputPlan build_input_plan(PyObject* specs);

// The plan behind a capsule made by `wrap_input_plan`.
frame::Ref wrap_input_plan(InputPlan plan);
const InputPlan& input_plan_of(PyObject* capsule);

// Cleans the rows into (list of cleaned dicts of the valid rows, list of error records). An
// error record is (row index, field index, message key, params or None), the params a tuple of
// alternating names and values; a message key that is not a str is a ValidationError raised by
// Django code (its params are its own).
frame::Ref validate_rows(const InputPlan& plan, PyObject* rows);

}  // namespace sorvel::validation
