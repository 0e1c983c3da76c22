#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvel::text {

// Standard alphabet with "=" padding and no line breaks.
void append_base64(std::string& out, const uint8_t* data, size_t size);

}  // namespace sorvel::text
