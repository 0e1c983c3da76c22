#include "django/record_writer.hpp"

#include "django/django_error.hpp"

namespace sorvel::django {

void RecordWriter::put_missing(size_t i, const DjangoFieldDescriptor& d) {
    if (!d.nullable && !d.has_default) DjangoError::null_not_allowed(d.name);
    output_.put_none(i);
}

frame::Ref RecordWriter::finish() {
    return output_.finish([](const engine::EngineError& error) {
        DjangoError::serialization("<batch>", error.display());
    });
}

}  // namespace sorvel::django
