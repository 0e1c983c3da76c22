#include "django/record_writer.hpp"

#include "django/django_error.hpp"
#include "engine/schema.hpp"
#include "engine/serialization.hpp"

namespace sorvel::django {

frame::Ref RecordWriter::to_dict(std::vector<engine::FieldValue>&& values) {
    auto record =
        engine::serialize_record_values(core_.descriptors, std::move(values), core_.order);
    if (!record) DjangoError::serialization("<batch>", record.error().display());
    return engine::record_to_dict(record.value(), keys_);
}

}  // namespace sorvel::django
