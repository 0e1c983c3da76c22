// validate_instance and validate_fields: Django data checked by the engine's rules. Rule
// violations are reported, values that cannot be read at all raise.
#include "django/functions.hpp"
#include "django/model_fields.hpp"
#include "django/model_schema.hpp"
#include "django/value_reader.hpp"
#include "engine/field_keys.hpp"
#include "engine/validation.hpp"
#include "frame/native_class.hpp"

namespace sorvel::django {
namespace {

using frame::Ref;

// Reads every field with `read(i, keys)` (a FieldValue; `keys` holds the call's name strings)
// and validates the record through the engine.
template <class Read>
Ref validate_record(std::span<const engine::FieldDescriptor> core, Read&& read) {
    engine::FieldKeys keys(core);
    std::vector<engine::ValidationPair> pairs;
    pairs.reserve(core.size());
    for (size_t i = 0; i < core.size(); ++i)
        pairs.push_back({&core[i], read(i, keys)});
    return engine::build_report(engine::validate_record_values(pairs));
}

Ref validate_instance(PyObject*, PyObject* const* slots) {
    PyObject* instance = slots[0];
    const auto& schema = *frame::parameter("schema", [&] { return &as_model_schema(slots[1]); });
    auto read = [&](size_t i, engine::FieldKeys& keys) -> engine::FieldValue {
        Ref value = Ref::steal(PyObject_GetAttr(instance, keys.key(i)));
        if (!value) {
            // Whether a missing value is acceptable is the rules' to say, not the reader's.
            frame::discard_error();
            return engine::Null{};
        }
        return read_django_value(value.get(), schema.descriptors[i]);
    };
    return validate_record(schema.core.descriptors, read);
}

Ref validate_fields(PyObject*, PyObject* const* slots) {
    PyObject* list = frame::parameter("descriptors", [&] { return frame::as_list(slots[0]); });
    PyObject* values = frame::parameter("values", [&] { return frame::as_list(slots[1]); });
    const auto descriptors = descriptors_from_dicts(list);
    auto read = [&](size_t i, engine::FieldKeys&) {
        Ref value = Ref::steal(PyList_GetItemRef(values, Py_ssize_t(i)));
        if (!value) frame::throw_fetched();
        return read_django_value(value.get(), descriptors[i]);
    };
    return validate_record(descriptors_to_core(descriptors), read);
}

Ref version(PyObject*) { return frame::new_str("1.0.1"); }

constexpr const char* kInstance[] = {"instance", "schema"};
constexpr const char* kFields[] = {"descriptors", "values"};
constexpr frame::ArgumentSpec kInstanceSpec{"validate_instance", nullptr, kInstance, 0, 2, {}};
constexpr frame::ArgumentSpec kFieldsSpec{"validate_fields", nullptr, kFields, 0, 2, {}};

}  // namespace

PyMethodDef validate_instance_def = {
    "validate_instance", frame::as_cfunction<frame::fastcall<kInstanceSpec, validate_instance>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate_instance(instance, schema)\n--\n\n"
    "Validates a Django model instance against its schema.\n"
    "\n"
    "Extracts the field values and runs them through the native validator.\n"
    "For batches above 64 fields, validation runs in parallel on the worker pool.\n"
    "\n"
    "Args:\n"
    "    instance: A Django model instance.\n"
    "    schema: A `ModelSchema` compiled from the model class.\n"
    "\n"
    "Returns:\n"
    "    A dict with `valid_count`, `error_count`, `errors`, and `is_valid`."};

PyMethodDef validate_fields_def = {
    "validate_fields", frame::as_cfunction<frame::fastcall<kFieldsSpec, validate_fields>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate_fields(descriptors, values)\n--\n\n"
    "Validates field values from a list (legacy API \xE2\x80\x94 prefer `validate_instance`)."};

PyMethodDef version_def = {"version", &frame::noargs<version>, METH_NOARGS,
                           "version()\n--\n\nReturns the sorvel-django version string."};

}  // namespace sorvel::django
