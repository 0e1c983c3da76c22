#include "engine/engine_error.hpp"

#include "frame/error.hpp"

namespace sorvel::engine {

EngineError EngineError::serialization(std::string field, std::string message) {
    return EngineError(Kind::Serialization,
                       "serialization error on field '" + field + "': " + message);
}

EngineError EngineError::required_null(std::string field) {
    return EngineError(Kind::RequiredNull, "field '" + field + "' is required but was null");
}

EngineError EngineError::type_mismatch(std::string field, std::string expected, std::string got) {
    return EngineError(Kind::TypeMismatch, "type error on field '" + field + "': expected " +
                                               expected + ", got " + got);
}

EngineError EngineError::schema(std::string message) {
    return EngineError(Kind::Schema, "schema error: " + message);
}

void EngineError::raise() const {
    if (kind_ == Kind::TypeMismatch) frame::throw_type_error(display_);
    frame::throw_value_error(display_);
}

}  // namespace sorvel::engine
