// FieldValue: one typed value read out of Python. It owns its data and holds no Python object,
// so it can be handed to worker threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "text/datetime.hpp"
#include "text/decimal.hpp"
#include "text/json.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {

struct Bytes {
    std::vector<uint8_t> data;
};
struct Null {};

// Alternatives in the order of the variant table; the index is the variant's number.
using FieldValue =
    std::variant<std::string, int64_t, double, text::Decimal, bool, text::Date, text::Time,
                 text::DateTime, text::Uuid, text::JsonValue, Bytes, Null>;

inline constexpr std::string_view kValueNames[] = {"str",  "int",  "float", "Decimal",
                                                   "bool", "date", "time",  "datetime",
                                                   "UUID", "JSON", "bytes", "null"};

inline std::string_view value_name(const FieldValue& value) { return kValueNames[value.index()]; }

}  // namespace sorvel::engine
