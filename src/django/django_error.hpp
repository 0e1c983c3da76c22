// DjangoError: the Django module's error value, raised as ValueError (TypeError for a type
// conversion) with its display text.
#pragma once

#include <string>

namespace sorvel::django {

class DjangoError {
  public:
    [[noreturn]] static void serialization(const std::string& field, const std::string& message);
    [[noreturn]] static void type_conversion(const std::string& expected, const std::string& got);
    [[noreturn]] static void null_not_allowed(const std::string& field);
    // The message is the whole exception text, without prefix.
    [[noreturn]] static void python(std::string message);
};

}  // namespace sorvel::django
