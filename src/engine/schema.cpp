#include "engine/schema.hpp"

#include <algorithm>
#include <numeric>

namespace sorvel::engine {

std::vector<uint32_t> output_order(std::span<const FieldDescriptor> descriptors) {
    std::vector<uint32_t> order(descriptors.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return descriptors[a].name < descriptors[b].name;
    });
    // Within a run of equal names the stable sort left the last declared at the run's end.
    std::vector<uint32_t> unique;
    unique.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const bool last_of_run =
            i + 1 == order.size() || descriptors[order[i + 1]].name != descriptors[order[i]].name;
        if (last_of_run) unique.push_back(order[i]);
    }
    return unique;
}

CompiledSchema::CompiledSchema(std::vector<FieldDescriptor> fields)
    : descriptors(std::move(fields)), order(output_order(descriptors)) {
    for (uint32_t i = 0; i < descriptors.size(); ++i) {
        if (needs_conversion(descriptors[i].kind)) convert_indices.push_back(i);
    }
}

}  // namespace sorvel::engine
