#include "django/django_error.hpp"

#include "frame/error.hpp"

namespace sorvel::django {

void DjangoError::serialization(const std::string& field, const std::string& message) {
    frame::throw_value_error("serialization error on field '" + field + "': " + message);
}

void DjangoError::type_conversion(const std::string& expected, const std::string& got) {
    frame::throw_type_error("type conversion error: expected " + expected + ", got " + got);
}

void DjangoError::null_not_allowed(const std::string& field) {
    frame::throw_value_error("field '" + field + "' is required but received null");
}

void DjangoError::python(std::string message) { frame::throw_value_error(std::move(message)); }

}  // namespace sorvel::django
