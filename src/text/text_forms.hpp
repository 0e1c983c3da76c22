// The text forms of decimals, dates, times, date-times, UUIDs and bytes written straight into a
// caller's buffer, for callers that make a Python str or JSON bytes from them without a
// std::string in between. Each writer produces exactly the text of its append_* counterpart
// (decimal.hpp, datetime.hpp, uuid.hpp, base64.hpp) and returns the end of what it wrote.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/datetime.hpp"
#include "text/decimal.hpp"
#include "text/uuid.hpp"

namespace sorvel::text {

// Room enough for any fixed-size form below: a decimal takes at most 31 characters, a date-time
// with a full 32-bit year 43, a UUID 36.
inline constexpr size_t kMaxTextForm = 64;

char* write_decimal(char* out, const Decimal& value);
char* write_date(char* out, const Date& date);
char* write_time(char* out, const Time& time);
// Date "T" time "+00:00".
char* write_datetime_utc(char* out, const DateTime& value);

// Standard alphabet with "=" padding: base64_length(size) characters.
inline constexpr size_t base64_length(size_t size) { return (size + 2) / 3 * 4; }
char* write_base64(char* out, const uint8_t* data, size_t size);

}  // namespace sorvel::text
