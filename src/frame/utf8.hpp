// Lossy UTF-8 decoding for texts shown inside messages.
#pragma once

#include <string>
#include <string_view>

namespace sorvel::frame {

// `bytes` with every ill-formed sequence (a maximal invalid subpart) replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

}  // namespace sorvel::frame
