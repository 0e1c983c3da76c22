#include "engine/record_shape.hpp"

#include "frame/convert.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

std::vector<Ref> interned_keys(const CompiledSchema& schema) {
    std::vector<Ref> keys;
    keys.reserve(schema.descriptors.size());
    for (const FieldDescriptor& descriptor : schema.descriptors) {
        PyObject* text = frame::new_str(descriptor.name).release();
        PyUnicode_InternInPlace(&text);
        keys.push_back(Ref::steal(text));
    }
    return keys;
}

std::vector<PyObject*> borrowed(const std::vector<Ref>& keys, std::span<const uint32_t> order) {
    std::vector<PyObject*> out;
    out.reserve(order.size());
    for (uint32_t position : order)
        out.push_back(keys[position].get());
    return out;
}

std::vector<uint32_t> all_positions(size_t count) {
    std::vector<uint32_t> positions(count);
    for (size_t i = 0; i < count; ++i)
        positions[i] = uint32_t(i);
    return positions;
}

std::vector<OutputForm> forms_of(const CompiledSchema& schema) {
    std::vector<OutputForm> forms;
    forms.reserve(schema.descriptors.size());
    for (const FieldDescriptor& descriptor : schema.descriptors)
        forms.push_back(output_form(descriptor.kind));
    return forms;
}

std::vector<int32_t> places_of(const CompiledSchema& schema) {
    std::vector<int32_t> places(schema.descriptors.size(), -1);
    for (size_t place = 0; place < schema.order.size(); ++place)
        places[schema.order[place]] = int32_t(place);
    return places;
}

}  // namespace

RecordShape::RecordShape(const CompiledSchema& schema)
    : keys(interned_keys(schema)),
      forms(forms_of(schema)),
      dicts(borrowed(keys, schema.order)),
      places(places_of(schema)),
      attributes(borrowed(keys, all_positions(keys.size()))) {}

RecordShape& record_shape(const CompiledSchema& schema) {
    if (!schema.shape) schema.shape = std::make_shared<RecordShape>(schema);
    return *schema.shape;
}

}  // namespace sorvel::engine
