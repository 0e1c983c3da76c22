#include "django/model_fields.hpp"

#include <optional>

#include "django/django_error.hpp"
#include "frame/convert.hpp"
#include "frame/list_walk.hpp"

namespace sorvel::django {

using frame::PythonError;
using frame::Ref;

namespace {

// The result of `read`, or nothing when it raises: optional information has fixed defaults.
template <class Read>
auto lenient(Read&& read) -> std::optional<decltype(read())> {
    try {
        return read();
    } catch (PythonError&) {
        return std::nullopt;
    }
}

Ref get_attribute(PyObject* object, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(object, name));
    if (!value) frame::throw_fetched();
    return value;
}

Ref call_method(PyObject* object, const char* name) {
    Ref method = get_attribute(object, name);
    Ref result = Ref::steal(PyObject_CallNoArgs(method.get()));
    if (!result) frame::throw_fetched();
    return result;
}

struct Alias {
    std::string_view internal_type;
    DjangoFieldType type;
};

// Internal types Django reports and the type each is read as; the rest are skipped (automatic
// primary keys and relations among them).
constexpr Alias kAliases[] = {
    {"CharField", DjangoFieldType::CharField},
    {"TextField", DjangoFieldType::TextField},
    {"IntegerField", DjangoFieldType::IntegerField},
    {"SmallIntegerField", DjangoFieldType::IntegerField},
    {"PositiveIntegerField", DjangoFieldType::IntegerField},
    {"PositiveSmallIntegerField", DjangoFieldType::IntegerField},
    {"BigIntegerField", DjangoFieldType::BigIntegerField},
    {"PositiveBigIntegerField", DjangoFieldType::BigIntegerField},
    {"FloatField", DjangoFieldType::FloatField},
    {"DecimalField", DjangoFieldType::DecimalField},
    {"BooleanField", DjangoFieldType::BooleanField},
    {"NullBooleanField", DjangoFieldType::BooleanField},
    {"DateField", DjangoFieldType::DateField},
    {"TimeField", DjangoFieldType::TimeField},
    {"DateTimeField", DjangoFieldType::DateTimeField},
    {"UUIDField", DjangoFieldType::UUIDField},
    {"JSONField", DjangoFieldType::JSONField},
    {"BinaryField", DjangoFieldType::BinaryField},
    {"EmailField", DjangoFieldType::EmailField},
    {"URLField", DjangoFieldType::URLField},
    {"SlugField", DjangoFieldType::SlugField},
};

std::optional<DjangoFieldType> model_type(std::string_view internal_type) {
    for (const Alias& alias : kAliases) {
        if (alias.internal_type == internal_type) return alias.type;
    }
    return std::nullopt;
}

}  // namespace

void set_payload(DjangoFieldDescriptor& d, std::optional<uint64_t> max_length,
                 std::optional<uint32_t> max_digits, std::optional<uint32_t> decimal_places) {
    if (d.type == DjangoFieldType::DecimalField) {
        d.max_digits = max_digits.value_or(10);
        d.decimal_places = decimal_places.value_or(2);
    } else if (d.type == DjangoFieldType::BinaryField) {
        d.max_length = max_length;
    } else if (auto fallback = default_max_length(d.type)) {
        d.max_length = max_length.value_or(*fallback);
    }
}

namespace {

// Reads only the payload attributes the field's type has.
void read_payload(PyObject* field, DjangoFieldDescriptor& d) {
    auto u64_attribute = [&](const char* name) {
        return lenient([&] { return frame::as_u64(get_attribute(field, name).get()); });
    };
    auto u32_attribute = [&](const char* name) {
        return lenient([&] { return frame::as_u32(get_attribute(field, name).get()); });
    };
    if (d.type == DjangoFieldType::DecimalField) {
        const auto max_digits = u32_attribute("max_digits");
        const auto decimal_places = u32_attribute("decimal_places");
        set_payload(d, std::nullopt, max_digits, decimal_places);
    } else if (d.type == DjangoFieldType::BinaryField || default_max_length(d.type)) {
        set_payload(d, u64_attribute("max_length"), std::nullopt, std::nullopt);
    }
}

// One field object, or nothing when it is skipped.
std::optional<DjangoFieldDescriptor> read_field(PyObject* field) {
    const auto is_relation =
        lenient([&] { return frame::as_bool(get_attribute(field, "is_relation").get()); });
    if (!is_relation || *is_relation) return std::nullopt;

    DjangoFieldDescriptor d;
    try {
        d.name = frame::as_text(get_attribute(field, "name").get());
    } catch (PythonError& error) {
        DjangoError::python("field missing 'name': " + frame::error_text(error));
    }
    const auto internal_type = lenient(
        [&] { return std::string(frame::as_text(call_method(field, "get_internal_type").get())); });
    const auto type = model_type(internal_type.value_or(""));
    d.nullable =
        lenient([&] { return frame::as_bool(get_attribute(field, "null").get()); }).value_or(false);
    d.has_default = lenient([&] {
                        return frame::as_bool(call_method(field, "has_default").get());
                    }).value_or(false);
    if (!type) return std::nullopt;
    d.type = *type;
    read_payload(field, d);
    return d;
}

}  // namespace

std::vector<DjangoFieldDescriptor> read_model_fields(PyObject* model_class) {
    Ref meta = Ref::steal(PyObject_GetAttrString(model_class, "_meta"));
    if (!meta) {
        frame::discard_error();
        DjangoError::python("model class has no _meta attribute");
    }
    Ref fields;
    try {
        fields = call_method(meta.get(), "get_fields");
    } catch (PythonError& error) {
        DjangoError::python("_meta.get_fields() failed: " + frame::error_text(error));
    }
    std::vector<Ref> items;
    try {
        items =
            frame::as_vector<Ref>(fields.get(), [](PyObject* item) { return Ref::borrow(item); });
    } catch (PythonError& error) {
        DjangoError::python("cannot iterate _meta.get_fields(): " + frame::error_text(error));
    }
    std::vector<DjangoFieldDescriptor> descriptors;
    descriptors.reserve(items.size());
    for (const Ref& item : items) {
        if (auto descriptor = read_field(item.get())) descriptors.push_back(std::move(*descriptor));
    }
    return descriptors;
}

Ref descriptors_to_dicts(std::span<const DjangoFieldDescriptor> descriptors) {
    using frame::new_str;
    const Ref name = new_str("name"), type = new_str("type"), nullable = new_str("nullable"),
              has_default = new_str("has_default"), max_length = new_str("max_length"),
              max_digits = new_str("max_digits"), decimal_places = new_str("decimal_places");
    frame::ListFiller list(Py_ssize_t(descriptors.size()));
    for (const DjangoFieldDescriptor& d : descriptors) {
        Ref dict = frame::new_dict();
        frame::dict_set(dict.get(), name.get(), new_str(d.name).get());
        frame::dict_set(dict.get(), type.get(), new_str(type_name(d.type)).get());
        frame::dict_set(dict.get(), nullable.get(), frame::new_bool(d.nullable).get());
        frame::dict_set(dict.get(), has_default.get(), frame::new_bool(d.has_default).get());
        if (d.type == DjangoFieldType::DecimalField) {
            frame::dict_set(dict.get(), max_digits.get(), frame::new_uint(d.max_digits).get());
            frame::dict_set(dict.get(), decimal_places.get(),
                            frame::new_uint(d.decimal_places).get());
        } else if (d.max_length) {
            frame::dict_set(dict.get(), max_length.get(), frame::new_uint(*d.max_length).get());
        }
        list.push(std::move(dict));
    }
    return list.finish();
}

std::vector<DjangoFieldDescriptor> descriptors_from_dicts(PyObject* list) {
    using frame::new_str;
    const Ref name_key = new_str("name"), type_key = new_str("type"),
              nullable_key = new_str("nullable"), has_default_key = new_str("has_default"),
              max_length_key = new_str("max_length"), max_digits_key = new_str("max_digits"),
              decimal_places_key = new_str("decimal_places");
    std::vector<DjangoFieldDescriptor> descriptors;
    descriptors.reserve(size_t(PyList_GET_SIZE(list)));
    frame::walk_list(list, [&](PyObject* item) {
        auto required = [&](const Ref& key) {
            Ref value = Ref::steal(PyObject_GetItem(item, key.get()));
            if (!value) frame::throw_fetched();
            return value;
        };
        auto optional = [&](const Ref& key) {
            Ref value = Ref::steal(PyObject_GetItem(item, key.get()));
            if (!value) frame::discard_error();
            return value;
        };
        DjangoFieldDescriptor d;
        d.name = frame::as_text(required(name_key).get());
        const std::string type(frame::as_text(required(type_key).get()));
        d.nullable = frame::as_bool(required(nullable_key).get());
        d.has_default = frame::as_bool(required(has_default_key).get());
        std::optional<uint64_t> max_length;
        if (Ref value = optional(max_length_key)) {
            max_length = lenient([&] { return frame::as_u64(value.get()); });
        }
        std::optional<uint32_t> max_digits, decimal_places;
        if (Ref value = optional(max_digits_key)) {
            max_digits = lenient([&] { return frame::as_u32(value.get()); });
        }
        if (Ref value = optional(decimal_places_key)) {
            decimal_places = lenient([&] { return frame::as_u32(value.get()); });
        }
        // Dict reading keeps every entry: a type outside the canonical names reads as text.
        d.type = type_from_name(type).value_or(DjangoFieldType::TextField);
        set_payload(d, max_length, max_digits, decimal_places);
        descriptors.push_back(std::move(d));
    });
    return descriptors;
}

}  // namespace sorvel::django
