// One serialized record assembled field by field, for the serializers that read Python values
// themselves. A value that takes the direct road (direct_output.hpp) is kept as its output
// object; any other is kept as the FieldValue the generic reader made of it and serialized when
// the record is finished. Reading happens in declaration order and generic serialization after
// all reads, also in declaration order, so the first error a record raises is the one the generic
// road (read everything, then serialize_record_values) raises: the direct road never fails.
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/direct_output.hpp"
#include "engine/engine_error.hpp"
#include "engine/field_value.hpp"
#include "engine/record_shape.hpp"
#include "engine/schema.hpp"
#include "frame/ref.hpp"

namespace sorvel::engine {

class RecordOutput {
  public:
    // The schema outlives the RecordOutput; one RecordOutput serves every record of a call, so
    // its storage is allocated once. With `direct` false every value takes the generic road
    // (the differential tests compare both roads).
    explicit RecordOutput(const CompiledSchema& schema, bool direct = true);
    RecordOutput(const RecordOutput&) = delete;
    RecordOutput& operator=(const RecordOutput&) = delete;

    OutputForm form(size_t i) const { return shape_.forms[i]; }

    // Starts a record; every field must then be put once before finish().
    void begin() {
        generic_.clear();
        fill_.emplace(shape_.dicts.start());
    }

    // Field `i` of the current record is None (a null value): the template's own value.
    void put_none(size_t) {}
    // Field `i` holds the present value `value`, when it passes through as it is
    // (passes_inline): stored, and true. Runs no Python code.
    bool put_passing(size_t i, PyObject* value) {
        if (!direct_ || !passes_inline(shape_.forms[i], value)) return false;
        store(i, frame::Ref::borrow(value));
        return true;
    }
    // Field `i` holds the present value `value`: its direct output if it has one, else the
    // FieldValue `read(value)` gives (which may raise, ending the record).
    template <class Read>
    void put(size_t i, PyObject* value, Read&& read) {
        if (put_passing(i, value)) return;
        if (direct_) {
            if (frame::Ref direct = direct_output(shape_.forms[i], value)) {
                store(i, std::move(direct));
                return;
            }
        }
        generic_.emplace_back(uint32_t(i), read(value));
    }
    void put_value(size_t i, FieldValue&& value) {
        generic_.emplace_back(uint32_t(i), std::move(value));
    }

    // The record as a new dict, keys in output order; a serialization failure of a generic value
    // is passed to `fail`, which must throw. The RecordOutput is then ready for the next record.
    template <class Fail>
    frame::Ref finish(Fail&& fail) {
        if (!generic_.empty()) {
            if (auto error = serialize_generic()) fail(*error);
        }
        return fill_->done();
    }

  private:
    void store(size_t i, frame::Ref output) {
        const int32_t place = shape_.places[i];
        if (place >= 0) fill_->set(size_t(place), std::move(output));
    }
    std::optional<EngineError> serialize_generic();

    const CompiledSchema& schema_;
    RecordShape& shape_;
    bool direct_;
    std::optional<frame::DictTemplate::Fill> fill_;  // the current record's dict
    std::vector<std::pair<uint32_t, FieldValue>> generic_;
};

}  // namespace sorvel::engine
