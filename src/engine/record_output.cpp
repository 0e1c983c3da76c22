#include "engine/record_output.hpp"

#include "engine/serialization.hpp"
#include "frame/convert.hpp"

namespace sorvel::engine {

using frame::Ref;

RecordOutput::RecordOutput(const CompiledSchema& schema, bool direct)
    : schema_(schema),
      shape_(record_shape(schema)),
      direct_(direct) {}

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
        store(position, json_to_python(serialized.value().values[0]));
    }
    generic_.clear();
    return std::nullopt;
}

}  // namespace sorvel::engine
