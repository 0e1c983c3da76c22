#include "django/record_writer.hpp"

#include "django/django_error.hpp"
#include "django/value_reader.hpp"

namespace sorvel::django {

void RecordWriter::put_missing(size_t i, const DjangoFieldDescriptor& d) {
    if (!d.nullable && !d.has_default) DjangoError::null_not_allowed(d.name);
    output_.put_none(i);
}

void RecordWriter::put(size_t i, PyObject* value, const DjangoFieldDescriptor& d) {
    if (value == Py_None) {
        output_.put_none(i);
        return;
    }
    output_.put(i, value, [&](PyObject* present) { return read_django_value(present, d); });
}

frame::Ref RecordWriter::finish() {
    return output_.finish([](const engine::EngineError& error) {
        DjangoError::serialization("<batch>", error.display());
    });
}

}  // namespace sorvel::django
