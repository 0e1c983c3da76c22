#include "engine/validation.hpp"

#include <unordered_set>

#include "engine/exact_values.hpp"
#include "engine/python_names.hpp"
#include "engine/standard_types.hpp"
#include "frame/convert.hpp"
#include "frame/pool.hpp"
#include "text/number_text.hpp"
#include "text/text_forms.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {
namespace {

using frame::Ref;

std::string text_of(uint64_t value) {
    std::string out;
    text::append_uint(out, value);
    return out;
}
std::string text_of(int64_t value) {
    std::string out;
    text::append_int(out, value);
    return out;
}
std::string text_of(double value) {
    std::string out;
    text::append_double(out, value);
    return out;
}
std::string text_of(uint32_t value) { return text_of(uint64_t(value)); }

FieldError error(const FieldDescriptor& descriptor, std::string message, std::string_view code) {
    return FieldError{descriptor.name, std::move(message), code, {}, 0};
}

FieldError error(const FieldDescriptor& descriptor, std::string message, std::string_view code,
                 std::string_view key, std::string value) {
    FieldError result = error(descriptor, std::move(message), code);
    result.params[0] = {key, std::move(value)};
    result.param_count = 1;
    return result;
}

FieldError error(const FieldDescriptor& descriptor, std::string message, std::string_view code,
                 std::string_view key, std::string value, std::string_view key2,
                 std::string value2) {
    FieldError result = error(descriptor, std::move(message), code, key, std::move(value));
    result.params[1] = {key2, std::move(value2)};
    result.param_count = 2;
    return result;
}

void check_length(const FieldDescriptor& d, const StrKind& kind, uint64_t length,
                  std::vector<FieldError>& errors) {
    if (kind.max_length && length > *kind.max_length) {
        std::string max = text_of(*kind.max_length), len = text_of(length);
        errors.push_back(
            error(d, "Ensure this value has at most " + max + " characters (it has " + len + ").",
                  "max_length", "max_length", max, "length", len));
    }
    if (kind.min_length && length < *kind.min_length) {
        std::string min = text_of(*kind.min_length), len = text_of(length);
        errors.push_back(
            error(d, "Ensure this value has at least " + min + " characters (it has " + len + ").",
                  "min_length", "min_length", min, "length", len));
    }
}

template <class Kind, class Number>
void check_range(const FieldDescriptor& d, const Kind& kind, Number value,
                 std::vector<FieldError>& errors) {
    if (kind.min_value && value < *kind.min_value) {
        std::string min = text_of(*kind.min_value);
        errors.push_back(error(d, "Ensure this value is greater than or equal to " + min + ".",
                               "min_value", "min_value", min));
    }
    if (kind.max_value && value > *kind.max_value) {
        std::string max = text_of(*kind.max_value);
        errors.push_back(error(d, "Ensure this value is less than or equal to " + max + ".",
                               "max_value", "max_value", max));
    }
}

void check_digits(const FieldDescriptor& d, const DecimalKind& kind, uint64_t digits,
                  uint64_t places, std::vector<FieldError>& errors) {
    if (kind.max_digits && digits > *kind.max_digits) {
        std::string max = text_of(*kind.max_digits);
        errors.push_back(error(d, "Ensure that there are no more than " + max + " digits in total.",
                               "max_digits", "max_digits", max));
    }
    if (kind.decimal_places && places > *kind.decimal_places) {
        std::string max = text_of(*kind.decimal_places);
        errors.push_back(error(d, "Ensure that there are no more than " + max + " decimal places.",
                               "max_decimal_places", "decimal_places", max));
    }
}

void check_byte_length(const FieldDescriptor& d, const BytesKind& kind, uint64_t length,
                       std::vector<FieldError>& errors) {
    if (kind.max_length && length > *kind.max_length) {
        std::string max = text_of(*kind.max_length);
        errors.push_back(error(
            d, "Ensure this value has at most " + max + " bytes (it has " + text_of(length) + ").",
            "max_length", "max_length", max));
    }
}

uint64_t code_points(std::string_view utf8) {
    uint64_t count = 0;
    for (char byte : utf8)
        count += (uint8_t(byte) & 0xC0) != 0x80;
    return count;
}

FieldError wrong_variant(const FieldDescriptor& d, const FieldValue& value) {
    return error(d,
                 "Invalid type: expected " + std::string(kind_name(d.kind)) + ", got " +
                     std::string(value_name(value)) + ".",
                 "invalid");
}

FieldError wrong_type(const FieldDescriptor& d) {
    return error(d, "Invalid type: expected " + std::string(kind_name(d.kind)) + ".", "invalid");
}

// Runs a Python-side type test whose exception, if any, only means "not of this type".
template <class Test>
bool passes(Test&& test) {
    if (test()) return true;
    frame::discard_error();
    return false;
}

// The UTF-8 text of str(value), kept alive by `holder`; nothing when str() fails or gives no
// str.
std::optional<std::string_view> str_text(PyObject* value, Ref& holder) {
    const char* data = nullptr;
    Py_ssize_t size = 0;
    if (!passes([&] {
            holder = Ref::steal(PyObject_Str(value));
            return holder && PyUnicode_Check(holder.get()) &&
                   (data = PyUnicode_AsUTF8AndSize(holder.get(), &size)) != nullptr;
        })) {
        return std::nullopt;
    }
    return std::string_view(data, size_t(size));
}

}  // namespace

FieldError required_error(const FieldDescriptor& descriptor) {
    return error(descriptor, "This field is required.", "required");
}

void validate_value(const FieldDescriptor& d, const FieldValue& value,
                    std::vector<FieldError>& errors) {
    if (std::holds_alternative<Null>(value)) {
        if (!d.nullable && !d.has_default) errors.push_back(required_error(d));
        return;
    }
    const bool accepted = std::visit(
        [&](const auto& kind) -> bool {
            using K = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<K, StrKind>) {
                auto* text = std::get_if<std::string>(&value);
                if (text != nullptr) check_length(d, kind, code_points(*text), errors);
                return text != nullptr;
            } else if constexpr (std::is_same_v<K, IntKind>) {
                auto* number = std::get_if<int64_t>(&value);
                if (number != nullptr) check_range(d, kind, *number, errors);
                return number != nullptr;
            } else if constexpr (std::is_same_v<K, FloatKind>) {
                auto* number = std::get_if<double>(&value);
                if (number != nullptr) check_range(d, kind, *number, errors);
                return number != nullptr;
            } else if constexpr (std::is_same_v<K, DecimalKind>) {
                auto* number = std::get_if<text::Decimal>(&value);
                if (number != nullptr) {
                    check_digits(d, kind, uint64_t(text::digit_count(*number)), number->scale,
                                 errors);
                }
                return number != nullptr;
            } else if constexpr (std::is_same_v<K, BytesKind>) {
                auto* bytes = std::get_if<Bytes>(&value);
                if (bytes != nullptr) check_byte_length(d, kind, bytes->data.size(), errors);
                return bytes != nullptr;
            } else if constexpr (std::is_same_v<K, ListKind> || std::is_same_v<K, DictKind>) {
                auto* json = std::get_if<text::JsonValue>(&value);
                if (json == nullptr) return false;
                constexpr bool list = std::is_same_v<K, ListKind>;
                using Wanted = std::conditional_t<list, text::JsonArray, text::JsonObject>;
                if (!std::holds_alternative<Wanted>(json->v)) {
                    errors.push_back(
                        error(d, list ? "Expected a list." : "Expected a dict.", "invalid"));
                }
                return true;
            } else {
                // Kinds without checks: only the variant must match.
                using Wanted = std::conditional_t<
                    std::is_same_v<K, BoolKind>, bool,
                    std::conditional_t<
                        std::is_same_v<K, DateTimeKind>, text::DateTime,
                        std::conditional_t<std::is_same_v<K, DateKind>, text::Date,
                                           std::conditional_t<std::is_same_v<K, TimeKind>,
                                                              text::Time, text::Uuid>>>>;
                return std::holds_alternative<Wanted>(value);
            }
        },
        d.kind);
    if (!accepted) errors.push_back(wrong_variant(d, value));
}

void validate_dict_value(const FieldDescriptor& d, PyObject* value,
                         std::vector<FieldError>& errors) {
    std::visit(
        [&](const auto& kind) {
            using K = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<K, StrKind> || std::is_same_v<K, BytesKind>) {
                Py_ssize_t length = -1;
                if (!passes([&] { return (length = PyObject_Length(value)) >= 0; })) {
                    errors.push_back(wrong_type(d));
                } else if constexpr (std::is_same_v<K, StrKind>) {
                    check_length(d, kind, uint64_t(length), errors);
                } else {
                    check_byte_length(d, kind, uint64_t(length), errors);
                }
            } else if constexpr (std::is_same_v<K, IntKind>) {
                long long number = 0;
                if (passes([&] {
                        number = PyLong_AsLongLong(value);
                        return !(number == -1 && PyErr_Occurred() != nullptr);
                    })) {
                    check_range(d, kind, int64_t(number), errors);
                } else {
                    errors.push_back(wrong_type(d));
                }
            } else if constexpr (std::is_same_v<K, FloatKind>) {
                double number = 0;
                if (passes([&] {
                        number = PyFloat_AsDouble(value);
                        return !(number == -1.0 && PyErr_Occurred() != nullptr);
                    })) {
                    check_range(d, kind, number, errors);
                } else {
                    errors.push_back(wrong_type(d));
                }
            } else if constexpr (std::is_same_v<K, BoolKind>) {
                if (!PyBool_Check(value)) errors.push_back(wrong_type(d));
            } else if constexpr (std::is_same_v<K, DecimalKind>) {
                Ref holder;
                char buf[text::kMaxTextForm];
                std::optional<std::string_view> text;
                // An exact Decimal's positional str() is its fixed-point text: no call needed.
                if (const auto exact = exact_decimal(value)) {
                    text.emplace(buf, size_t(text::write_decimal(buf, *exact) - buf));
                } else {
                    text = str_text(value, holder);
                }
                if (text) {
                    const auto counted = text::count_decimal_text(*text);
                    check_digits(d, kind, counted.digits, counted.places, errors);
                } else {
                    errors.push_back(wrong_type(d));
                }
            } else if constexpr (std::is_same_v<K, DateTimeKind> || std::is_same_v<K, DateKind> ||
                                 std::is_same_v<K, TimeKind>) {
                const bool exact = std::is_same_v<K, DateTimeKind> ? bool(exact_datetime(value))
                                   : std::is_same_v<K, DateKind>   ? bool(exact_date(value))
                                                                   : bool(exact_time(value));
                if (!exact && !passes([&] {
                        return bool(
                            Ref::steal(PyObject_CallMethodNoArgs(value, names::isoformat())));
                    })) {
                    errors.push_back(wrong_type(d));
                }
            } else if constexpr (std::is_same_v<K, UuidKind>) {
                if (exact_uuid_fast(value)) return;
                Ref holder;
                const auto text = str_text(value, holder);
                if (!text || !text::parse_uuid(*text)) errors.push_back(wrong_type(d));
            } else if constexpr (std::is_same_v<K, ListKind>) {
                if (!PyList_Check(value)) errors.push_back(error(d, "Expected a list.", "invalid"));
            } else if constexpr (std::is_same_v<K, DictKind>) {
                if (!PyDict_Check(value)) errors.push_back(error(d, "Expected a dict.", "invalid"));
            }
        },
        d.kind);
}

ValidationReport make_report(std::vector<FieldError> errors, size_t checked) {
    std::unordered_set<std::string_view> failed;
    for (const FieldError& e : errors)
        failed.insert(e.field);
    ValidationReport report;
    report.valid_count = checked > failed.size() ? checked - failed.size() : 0;
    report.error_count = errors.size();
    report.errors = std::move(errors);
    return report;
}

ValidationReport validate_record_values(std::span<const ValidationPair> pairs) {
    std::vector<FieldError> errors;
    if (pairs.size() < kParallelFieldThreshold) {
        for (const ValidationPair& pair : pairs)
            validate_value(*pair.descriptor, pair.value, errors);
    } else {
        auto per_field =
            frame::pool::parallel_map<std::vector<FieldError>>(pairs.size(), [&](size_t i) {
                std::vector<FieldError> found;
                validate_value(*pairs[i].descriptor, pairs[i].value, found);
                return found;
            });
        for (auto& found : per_field) {
            for (FieldError& e : found)
                errors.push_back(std::move(e));
        }
    }
    return make_report(std::move(errors), pairs.size());
}

frame::Ref build_report(const ValidationReport& report) {
    using frame::new_str;
    const Ref valid_count = new_str("valid_count"), error_count = new_str("error_count"),
              is_valid = new_str("is_valid"), errors_key = new_str("errors"),
              field = new_str("field"), message = new_str("message"), code = new_str("code"),
              params = new_str("params");
    Ref result = frame::new_dict();
    frame::dict_set(result.get(), valid_count.get(),
                    frame::new_size(Py_ssize_t(report.valid_count)).get());
    frame::dict_set(result.get(), error_count.get(),
                    frame::new_size(Py_ssize_t(report.error_count)).get());
    frame::dict_set(result.get(), is_valid.get(), frame::new_bool(report.errors.empty()).get());
    frame::ListFiller list(Py_ssize_t(report.errors.size()));
    for (const FieldError& e : report.errors) {
        Ref entry = frame::new_dict();
        frame::dict_set(entry.get(), field.get(), new_str(e.field).get());
        frame::dict_set(entry.get(), message.get(), new_str(e.message).get());
        frame::dict_set(entry.get(), code.get(), new_str(e.code).get());
        Ref map = frame::new_dict();
        for (uint8_t i = 0; i < e.param_count; ++i) {
            frame::dict_set(map.get(), new_str(e.params[i].key).get(),
                            new_str(e.params[i].value).get());
        }
        frame::dict_set(entry.get(), params.get(), map.get());
        list.push(std::move(entry));
    }
    frame::dict_set(result.get(), errors_key.get(), list.finish().get());
    return result;
}

}  // namespace sorvel::engine
