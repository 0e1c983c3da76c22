#include "django/field_type.hpp"

#include <cstdint>

namespace sorvel::django {

std::optional<DjangoFieldType> type_from_name(std::string_view name) {
    for (size_t i = 0; i < std::size(kTypeNames); ++i) {
        if (kTypeNames[i] == name) return DjangoFieldType(i);
    }
    return std::nullopt;
}

std::optional<uint64_t> default_max_length(DjangoFieldType type) {
    switch (type) {
        case DjangoFieldType::CharField:
            return 255;
        case DjangoFieldType::EmailField:
            return 254;
        case DjangoFieldType::URLField:
            return 200;
        case DjangoFieldType::SlugField:
            return 50;
        default:
            return std::nullopt;
    }
}

namespace {

engine::FieldKind core_kind(const DjangoFieldDescriptor& d) {
    using T = DjangoFieldType;
    switch (d.type) {
        case T::CharField:
        case T::EmailField:
        case T::URLField:
        case T::SlugField:
            return engine::StrKind{d.max_length, std::nullopt};
        case T::TextField:
            return engine::StrKind{};
        case T::IntegerField:  // Django's integer columns are 32-bit
            return engine::IntKind{INT32_MIN, INT32_MAX};
        case T::BigIntegerField:
            return engine::IntKind{};
        case T::FloatField:
            return engine::FloatKind{};
        case T::DecimalField:
            return engine::DecimalKind{d.max_digits, d.decimal_places};
        case T::BooleanField:
            return engine::BoolKind{};
        case T::DateField:
            return engine::DateKind{};
        case T::TimeField:
            return engine::TimeKind{};
        case T::DateTimeField:
            return engine::DateTimeKind{};
        case T::UUIDField:
            return engine::UuidKind{};
        case T::JSONField:
            return engine::DictKind{};
        case T::BinaryField:
            return engine::BytesKind{d.max_length};
    }
    return engine::StrKind{};
}

}  // namespace

std::vector<engine::FieldDescriptor> descriptors_to_core(
    std::span<const DjangoFieldDescriptor> descriptors) {
    std::vector<engine::FieldDescriptor> core;
    core.reserve(descriptors.size());
    for (const DjangoFieldDescriptor& d : descriptors) {
        core.push_back({d.name, core_kind(d), d.nullable, d.has_default});
    }
    return core;
}

}  // namespace sorvel::django
