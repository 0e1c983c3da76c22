// Validating many dict records of one schema, as validate_many does: each field looked up in
// the record's own storage and its value checked by the dict-value rules.
//
// Most values are of the type their kind expects (an exact str for a str field, a compact int
// for an int field, a standard library Decimal, datetime or UUID). For those, whether the value
// passes is decided here from the object itself, with each field's limits prepared once. Every
// other value, and every value that fails, goes to validate_dict_value, so the errors and their
// order are its own; a value decided here is one on which it would have added nothing and run
// no Python code.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

#include "engine/field_kind.hpp"
#include "engine/validation.hpp"
#include "frame/dict_item_reader.hpp"

namespace sorvel::engine {

class DictRecordChecks {
  public:
    // `keys`: one interned str per descriptor, outliving the checks.
    DictRecordChecks(std::span<const FieldDescriptor> descriptors,
                     std::span<PyObject* const> keys);

    // Appends the errors of one dict (or dict subclass) record, field after field.
    void check(PyObject* record, std::vector<FieldError>& errors);

  private:
    // A field's limits with the unset ones widened to pass everything.
    struct Plan {
        const FieldDescriptor* descriptor;
        uint8_t kind;  // the kind's index
        bool optional;  // nullable or has a default: absent and None pass
        uint64_t min_size = 0, max_size = UINT64_MAX;  // str characters, bytes
        uint64_t max_digits = UINT64_MAX, max_places = UINT64_MAX;
        int64_t min_int = INT64_MIN, max_int = INT64_MAX;
        double min_float = 0, max_float = 0;  // NaN when unset: no comparison fails
    };

    static bool passes(const Plan& plan, PyObject* value);

    std::vector<Plan> plans_;
    frame::DictItemReader items_;
};

}  // namespace sorvel::engine
