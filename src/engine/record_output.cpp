#include "engine/record_output.hpp"

#include "engine/serialization.hpp"
#include "frame/convert.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

std::vector<PyObject*> keys_in_order(const CompiledSchema& schema, FieldKeys& keys) {
    std::vector<PyObject*> ordered;
    ordered.reserve(schema.order.size());
    for (uint32_t position : schema.order)
        ordered.push_back(keys.key(position));
    return ordered;
}

}  // namespace

RecordOutput::RecordOutput(const CompiledSchema& schema, FieldKeys& keys, bool direct)
    : schema_(schema),
      keys_(keys),
      direct_(direct),
      outputs_(schema.descriptors.size()),
      dicts_(keys_in_order(schema, keys)),
      in_order_(schema.order.size()) {
    forms_.reserve(schema.descriptors.size());
    for (const FieldDescriptor& descriptor : schema.descriptors)
        forms_.push_back(output_form(descriptor.kind));
    generic_.reserve(schema.descriptors.size());
}

std::optional<EngineError> RecordOutput::serialize_generic() {
    static constexpr uint32_t kOnlyValue[] = {0};
    for (auto& [position, value] : generic_) {
        std::vector<FieldValue> one;
        one.push_back(std::move(value));
        auto serialized = serialize_record_values(std::span(&schema_.descriptors[position], 1),
                                                  std::move(one), kOnlyValue);
        if (!serialized) {
            generic_.clear();
            return serialized.error();
        }
        outputs_[position] = json_to_python(serialized.value().values[0]);
    }
    generic_.clear();
    return std::nullopt;
}

Ref RecordOutput::build_dict() {
    for (size_t i = 0; i < in_order_.size(); ++i)
        in_order_[i] = outputs_[schema_.order[i]].get();
    return dicts_.make(in_order_);
}

}  // namespace sorvel::engine
