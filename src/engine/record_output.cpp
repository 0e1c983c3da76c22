#include "engine/record_output.hpp"

#include "engine/serialization.hpp"
#include "frame/convert.hpp"

namespace sorvel::engine {

using frame::Ref;

RecordOutput::RecordOutput(const CompiledSchema& schema, FieldKeys& keys, bool direct)
    : schema_(schema), keys_(keys), direct_(direct), outputs_(schema.descriptors.size()) {
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
    Ref dict = Ref::steal(_PyDict_NewPresized(Py_ssize_t(schema_.order.size())));
    if (!dict) frame::throw_fetched();
    for (uint32_t position : schema_.order) {
        frame::dict_set(dict.get(), keys_.key(position), outputs_[position].get());
    }
    return dict;
}

}  // namespace sorvel::engine
