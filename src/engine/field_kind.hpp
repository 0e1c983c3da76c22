// The twelve value kinds a field may have, each carrying only the constraints that belong to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace sorvel::engine {

struct StrKind {
    std::optional<uint64_t> max_length, min_length;  // characters
};
struct IntKind {
    std::optional<int64_t> min_value, max_value;
};
struct FloatKind {
    std::optional<double> min_value, max_value;
};
struct BoolKind {};
struct DecimalKind {
    std::optional<uint32_t> max_digits, decimal_places;
};
struct DateTimeKind {};
struct DateKind {};
struct TimeKind {};
struct UuidKind {};
struct ListKind {};
struct DictKind {};
struct BytesKind {
    std::optional<uint64_t> max_length;  // bytes
};

// Alternatives in the order of the kind table; the index is the kind's number.
using FieldKind = std::variant<StrKind, IntKind, FloatKind, BoolKind, DecimalKind, DateTimeKind,
                               DateKind, TimeKind, UuidKind, ListKind, DictKind, BytesKind>;

// The position of alternative T in variant V, for switching on a variant's index by name.
template <class T, class V>
struct variant_index;
template <class T, class... Ts>
struct variant_index<T, std::variant<Ts...>> {
    static constexpr size_t value = [] {
        size_t index = 0;
        ((std::is_same_v<T, Ts> ? false : (++index, true)) && ...);
        return index;
    }();
};

template <class K>
inline constexpr size_t kind_index = variant_index<K, FieldKind>::value;

inline constexpr std::string_view kKindNames[] = {"str",     "int",      "float", "bool",
                                                  "Decimal", "datetime", "date",  "time",
                                                  "UUID",    "list",     "dict",  "bytes"};

// A kind without constraints, by its number.
FieldKind kind_from_index(size_t index);

inline std::string_view kind_name(const FieldKind& kind) { return kKindNames[kind.index()]; }

// Kinds whose output form differs from the value read, so serializing a copied dict must
// rewrite them.
inline bool needs_conversion(const FieldKind& kind) {
    return std::holds_alternative<DecimalKind>(kind) ||
           std::holds_alternative<DateTimeKind>(kind) || std::holds_alternative<DateKind>(kind) ||
           std::holds_alternative<TimeKind>(kind) || std::holds_alternative<UuidKind>(kind) ||
           std::holds_alternative<BytesKind>(kind);
}

struct FieldDescriptor {
    std::string name;
    FieldKind kind;
    bool nullable = false;
    bool has_default = false;
};

}  // namespace sorvel::engine
