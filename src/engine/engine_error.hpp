// EngineError: the schema engine's error value, raised as ValueError (TypeError for a type
// mismatch) with its display text.
#pragma once

#include <string>

namespace sorvel::engine {

class EngineError {
  public:
    enum class Kind { Serialization, RequiredNull, TypeMismatch, Schema };

    static EngineError serialization(std::string field, std::string message);
    static EngineError required_null(std::string field);
    static EngineError type_mismatch(std::string field, std::string expected, std::string got);
    static EngineError schema(std::string message);

    Kind kind() const { return kind_; }
    // The exception's whole text, prefix included.
    const std::string& display() const { return display_; }
    // Throws the frame's error of the mapped exception type.
    [[noreturn]] void raise() const;

  private:
    EngineError(Kind kind, std::string display) : kind_(kind), display_(std::move(display)) {}
    Kind kind_;
    std::string display_;
};

}  // namespace sorvel::engine
