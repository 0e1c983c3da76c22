#include "engine/field_kind.hpp"

#include <array>
#include <utility>

namespace sorvel::engine {

FieldKind kind_from_index(size_t index) {
    static const auto kinds = []<size_t... I>(std::index_sequence<I...>) {
        return std::array<FieldKind, sizeof...(I)>{FieldKind(std::in_place_index<I>)...};
    }(std::make_index_sequence<std::variant_size_v<FieldKind>>());
    return kinds.at(index);
}

}  // namespace sorvel::engine
