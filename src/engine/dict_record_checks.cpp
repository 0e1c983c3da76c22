#include "engine/dict_record_checks.hpp"

#include <limits>

#include "engine/exact_values.hpp"
#include "engine/standard_types.hpp"

namespace sorvel::engine {

DictRecordChecks::DictRecordChecks(std::span<const FieldDescriptor> descriptors,
                                   std::span<PyObject* const> keys)
    : items_(keys) {
    plans_.reserve(descriptors.size());
    for (const FieldDescriptor& d : descriptors) {
        Plan plan{&d, uint8_t(d.kind.index()), d.nullable || d.has_default};
        plan.min_float = plan.max_float = std::numeric_limits<double>::quiet_NaN();
        std::visit(
            [&](const auto& kind) {
                using K = std::decay_t<decltype(kind)>;
                if constexpr (std::is_same_v<K, StrKind>) {
                    plan.min_size = kind.min_length.value_or(0);
                    plan.max_size = kind.max_length.value_or(UINT64_MAX);
                } else if constexpr (std::is_same_v<K, BytesKind>) {
                    plan.max_size = kind.max_length.value_or(UINT64_MAX);
                } else if constexpr (std::is_same_v<K, IntKind>) {
                    plan.min_int = kind.min_value.value_or(INT64_MIN);
                    plan.max_int = kind.max_value.value_or(INT64_MAX);
                } else if constexpr (std::is_same_v<K, FloatKind>) {
                    if (kind.min_value) plan.min_float = *kind.min_value;
                    if (kind.max_value) plan.max_float = *kind.max_value;
                } else if constexpr (std::is_same_v<K, DecimalKind>) {
                    if (kind.max_digits) plan.max_digits = *kind.max_digits;
                    if (kind.decimal_places) plan.max_places = *kind.decimal_places;
                }
            },
            d.kind);
        plans_.push_back(plan);
    }
}

bool DictRecordChecks::passes(const Plan& plan, PyObject* value) {
    switch (plan.kind) {
        case kind_index<StrKind>:
            // A subclass may answer len() its own way.
            if (!PyUnicode_CheckExact(value)) return false;
            return uint64_t(PyUnicode_GET_LENGTH(value)) >= plan.min_size &&
                   uint64_t(PyUnicode_GET_LENGTH(value)) <= plan.max_size;
        case kind_index<IntKind>: {
            if (!PyLong_CheckExact(value) || !PyUnstable_Long_IsCompact(
                                                 reinterpret_cast<PyLongObject*>(value))) {
                return false;
            }
            const Py_ssize_t number =
                PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(value));
            return number >= plan.min_int && number <= plan.max_int;
        }
        case kind_index<FloatKind>: {
            if (!PyFloat_CheckExact(value)) return false;
            const double number = PyFloat_AS_DOUBLE(value);
            return !(number < plan.min_float) && !(number > plan.max_float);
        }
        case kind_index<BoolKind>:
            return PyBool_Check(value);
        case kind_index<DecimalKind>: {
            const auto counted = exact_decimal_digits(value);
            return counted && counted->digits <= plan.max_digits &&
                   counted->places <= plan.max_places;
        }
        case kind_index<DateTimeKind>:
            return isoformat_certain(value, Temporal::DateTime);
        case kind_index<DateKind>:
            return isoformat_certain(value, Temporal::Date);
        case kind_index<TimeKind>:
            return isoformat_certain(value, Temporal::Time);
        case kind_index<UuidKind>:
            return exact_uuid_fits(value);
        case kind_index<ListKind>:
            return PyList_Check(value);
        case kind_index<DictKind>:
            return PyDict_Check(value);
        case kind_index<BytesKind>:
            return PyBytes_CheckExact(value) && uint64_t(PyBytes_GET_SIZE(value)) <= plan.max_size;
        default:
            return false;
    }
}

void DictRecordChecks::check(PyObject* record, std::vector<FieldError>& errors) {
    for (size_t i = 0; i < plans_.size(); ++i) {
        const Plan& plan = plans_[i];
        PyObject* value = items_.find(record, i);
        if (value == nullptr || value == Py_None) {
            if (!plan.optional) errors.push_back(required_error(*plan.descriptor));
        } else if (!passes(plan, value)) {
            // The rules may run Python code (str(), len()) that changes the record.
            const frame::Ref held = frame::Ref::borrow(value);
            validate_dict_value(*plan.descriptor, held.get(), errors);
        }
    }
}

}  // namespace sorvel::engine
