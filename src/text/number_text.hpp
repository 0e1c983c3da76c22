#pragma once

#include <cstdint>
#include <string>

namespace sorvel::text {

// Shortest text that reads back as the same double, always positional ("0.0000001", "1" and 21
// zeros for 1e21, "10" for 10.0); NaN, inf and -inf as "NaN", "inf", "-inf".
void append_double(std::string& out, double value);

void append_int(std::string& out, int64_t value);
void append_uint(std::string& out, uint64_t value);

}  // namespace sorvel::text
