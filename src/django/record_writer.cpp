#include "django/record_writer.hpp"

#include "django/django_error.hpp"
#include "django/value_reader.hpp"

namespace sorvel::django {

void RecordWriter::put_missing(size_t i, const DjangoFieldDescriptor& d) {
    if (!d.nullable && !d.has_default) DjangoError::null_not_allowed(d.name);
    output_.put_none(i);
}

engine::FieldValue RecordWriter::read_value(PyObject* value, const DjangoFieldDescriptor& d) {
    return read_django_value(value, d);
}

frame::Ref RecordWriter::finish() {
    return output_.finish([](const engine::EngineError& error) {
        DjangoError::serialization("<batch>", error.display());
    });
}

}  // namespace sorvel::django
