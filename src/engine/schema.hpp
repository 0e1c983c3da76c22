// A compiled schema: the descriptors in declaration order and what later calls would otherwise
// re-derive on every record.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/field_kind.hpp"

namespace sorvel::engine {

// Descriptor positions ordered by name bytes, the order of serialized records. Of descriptors
// sharing a name only the last is kept: its value replaces the earlier ones.
std::vector<uint32_t> output_order(std::span<const FieldDescriptor> descriptors);

struct RecordShape;

struct CompiledSchema {
    explicit CompiledSchema(std::vector<FieldDescriptor> fields);

    std::vector<FieldDescriptor> descriptors;
    // Positions of the kinds whose output form differs from the value read, ascending.
    std::vector<uint32_t> convert_indices;
    std::vector<uint32_t> order;
    // The Python objects serializing needs, made on first use (record_shape.hpp).
    mutable std::shared_ptr<RecordShape> shape;
};

}  // namespace sorvel::engine
