#include "django/record_writer.hpp"

#include "django/django_error.hpp"
#include "engine/schema.hpp"
#include "engine/serialization.hpp"

namespace sorvel::django {

RecordWriter::RecordWriter(std::span<const DjangoFieldDescriptor> descriptors)
    : core_(descriptors_to_core(descriptors)), order_(engine::output_order(core_)), keys_(core_) {}

frame::Ref RecordWriter::to_dict(std::vector<engine::FieldValue>&& values) {
    auto record = engine::serialize_record_values(core_, std::move(values), order_);
    if (!record) DjangoError::serialization("<batch>", record.error().display());
    return engine::record_to_dict(record.value(), keys_);
}

}  // namespace sorvel::django
