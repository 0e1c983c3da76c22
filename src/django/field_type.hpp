// The Django module's own field types (named by Django's internal type names) and its field
// record, read from a model once and mapped onto engine descriptors per call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_kind.hpp"

namespace sorvel::django {

enum class DjangoFieldType : uint8_t {
    CharField,
    TextField,
    IntegerField,
    BigIntegerField,
    FloatField,
    DecimalField,
    BooleanField,
    DateField,
    TimeField,
    DateTimeField,
    UUIDField,
    JSONField,
    BinaryField,
    EmailField,
    URLField,
    SlugField,
};

inline constexpr std::string_view kTypeNames[] = {
    "CharField",    "TextField",  "IntegerField", "BigIntegerField", "FloatField", "DecimalField",
    "BooleanField", "DateField",  "TimeField",    "DateTimeField",   "UUIDField",  "JSONField",
    "BinaryField",  "EmailField", "URLField",     "SlugField"};

inline std::string_view type_name(DjangoFieldType type) { return kTypeNames[size_t(type)]; }

// The canonical type of that name, if it is one of the sixteen.
std::optional<DjangoFieldType> type_from_name(std::string_view name);

// Text types that always carry a max_length, and the default when none can be read.
std::optional<uint64_t> default_max_length(DjangoFieldType type);

struct DjangoFieldDescriptor {
    std::string name;
    DjangoFieldType type;
    // Payload: max_length for the text types (always set) and BinaryField (optional);
    // max_digits and decimal_places for DecimalField.
    std::optional<uint64_t> max_length;
    uint32_t max_digits = 0;
    uint32_t decimal_places = 0;
    bool nullable = false;
    bool has_default = false;
};

// The engine's view of the fields: kinds and constraints by the Django type.
std::vector<engine::FieldDescriptor> descriptors_to_core(
    std::span<const DjangoFieldDescriptor> descriptors);

}  // namespace sorvel::django
