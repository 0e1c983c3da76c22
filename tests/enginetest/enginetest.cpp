// A module built only for the test run. It links the engine and the Django value reader and
// exposes both roads from a Python value to its output (the direct one and the generic one
// through FieldValue), so the differential tests can run the same values through each.
#include "django/django_error.hpp"
#include "django/field_type.hpp"
#include "django/value_reader.hpp"
#include "engine/dict_record_checks.hpp"
#include "engine/direct_output.hpp"
#include "engine/reader.hpp"
#include "engine/record_output.hpp"
#include "engine/serialization.hpp"
#include "engine/standard_types.hpp"
#include "engine/validation.hpp"
#include "frame/list_walk.hpp"
#include "frame/module.hpp"
#include "frame/module_def.hpp"
#include "frame/native_class.hpp"

namespace {

using namespace sorvel;
using frame::Ref;

engine::FieldKind kind_named(PyObject* name) {
    const std::string_view text = frame::as_text(name);
    for (size_t i = 0; i < std::size(engine::kKindNames); ++i) {
        if (engine::kKindNames[i] == text) return engine::kind_from_index(i);
    }
    frame::throw_value_error("unknown kind " + std::string(text));
}

django::DjangoFieldDescriptor django_field(PyObject* type_name) {
    const auto type = django::type_from_name(frame::as_text(type_name));
    if (!type) frame::throw_value_error("unknown Django type");
    django::DjangoFieldDescriptor d{"field", *type, std::nullopt, 0, 0, true, false};
    return d;
}

// (True, output) when the direct road answers, else (False, None).
Ref answer(Ref direct) {
    const bool found = bool(direct);
    return Ref::steal(frame::must(
        Py_BuildValue("(OO)", found ? Py_True : Py_False, found ? direct.get() : Py_None)));
}

// The generic road's output for one present value: read, serialize, build.
template <class Fail>
Ref generic_output(const engine::FieldDescriptor& descriptor, engine::FieldValue value,
                   Fail&& fail) {
    static constexpr uint32_t kOnly[] = {0};
    std::vector<engine::FieldValue> values;
    values.push_back(std::move(value));
    auto serialized =
        engine::serialize_record_values(std::span(&descriptor, 1), std::move(values), kOnly);
    if (!serialized) fail(serialized.error());
    return engine::json_to_python(serialized.value().values[0]);
}

Ref direct(PyObject*, PyObject* const* slots) {
    return answer(engine::direct_output(engine::output_form(kind_named(slots[0])), slots[1]));
}

Ref generic(PyObject*, PyObject* const* slots) {
    const engine::FieldDescriptor descriptor{"field", kind_named(slots[0]), true, false};
    return generic_output(descriptor, engine::convert_field_value(slots[1], descriptor),
                          [](const engine::EngineError& error) { error.raise(); });
}

Ref text_form(PyObject*, PyObject* const* slots) {
    char buf[text::kMaxTextForm];
    const ptrdiff_t length =
        engine::write_text_form(engine::output_form(kind_named(slots[0])), slots[1], buf);
    if (length < 0) return frame::new_none();
    return frame::new_ascii(buf, size_t(length));
}

Ref django_direct(PyObject*, PyObject* const* slots) {
    const auto d = django_field(slots[0]);
    const auto core = django::descriptors_to_core(std::span(&d, 1));
    return answer(engine::direct_output(engine::output_form(core[0].kind), slots[1]));
}

Ref django_generic(PyObject*, PyObject* const* slots) {
    const auto d = django_field(slots[0]);
    const auto core = django::descriptors_to_core(std::span(&d, 1));
    return generic_output(core[0], django::read_django_value(slots[1], d),
                          [](const engine::EngineError& error) {
                              django::DjangoError::serialization("<batch>", error.display());
                          });
}

// record(fields, data, direct): `fields` a list of (name, kind name, nullable); `data` a dict
// serialized through RecordOutput as _native.serialize reads it, on the direct road or not.
Ref record(PyObject*, PyObject* const* slots) {
    std::vector<engine::FieldDescriptor> descriptors;
    frame::walk_list(frame::as_list(slots[0]), [&](PyObject* item) {
        descriptors.push_back({std::string(frame::as_text(PyTuple_GetItem(item, 0))),
                               kind_named(PyTuple_GetItem(item, 1)),
                               frame::as_bool(PyTuple_GetItem(item, 2)), false});
    });
    const engine::CompiledSchema schema(std::move(descriptors));
    engine::FieldKeys keys(schema.descriptors);
    engine::RecordOutput output(schema, frame::as_bool(slots[2]));
    output.begin();
    for (size_t i = 0; i < schema.descriptors.size(); ++i) {
        const auto& descriptor = schema.descriptors[i];
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(frame::as_dict(slots[1]), keys.key(i), &found) < 0)
            frame::throw_fetched();
        Ref value = Ref::steal(found);
        if (!value || value.get() == Py_None) {
            if (!descriptor.nullable) engine::EngineError::required_null(descriptor.name).raise();
            output.put_none(i);
            continue;
        }
        output.put(i, value.get(), [&](PyObject* present) {
            return engine::convert_field_value(present, descriptor);
        });
    }
    return output.finish([](const engine::EngineError& error) { error.raise(); });
}

// A field of `validate_dicts` from (name, kind name, nullable, has_default, first, second): the
// kind's two limits in their declaration order (max and min length of a str, min and max of a
// number, max digits and places of a Decimal, max length of bytes), None when unset.
engine::FieldDescriptor limited_field(PyObject* item) {
    const auto limit = [&](Py_ssize_t at) { return PyTuple_GetItem(item, at); };
    engine::FieldKind kind = kind_named(limit(1));
    std::visit(
        [&](auto& k) {
            using K = std::decay_t<decltype(k)>;
            const auto set = [&](auto& field, Py_ssize_t at, auto convert) {
                if (limit(at) != Py_None) field = convert(limit(at));
            };
            if constexpr (std::is_same_v<K, engine::StrKind>) {
                set(k.max_length, 4, frame::as_u64);
                set(k.min_length, 5, frame::as_u64);
            } else if constexpr (std::is_same_v<K, engine::IntKind>) {
                set(k.min_value, 4, frame::as_i64);
                set(k.max_value, 5, frame::as_i64);
            } else if constexpr (std::is_same_v<K, engine::FloatKind>) {
                set(k.min_value, 4, frame::as_double);
                set(k.max_value, 5, frame::as_double);
            } else if constexpr (std::is_same_v<K, engine::DecimalKind>) {
                set(k.max_digits, 4, frame::as_u32);
                set(k.decimal_places, 5, frame::as_u32);
            } else if constexpr (std::is_same_v<K, engine::BytesKind>) {
                set(k.max_length, 4, frame::as_u64);
            }
        },
        kind);
    return {std::string(frame::as_text(limit(0))), std::move(kind), frame::as_bool(limit(2)),
            frame::as_bool(limit(3))};
}

// validate_dicts(fields, records, direct): the report of validate_many for a list of dict
// records, through DictRecordChecks (direct) or through PyDict_GetItemRef and
// validate_dict_value for every field.
Ref validate_dicts(PyObject*, PyObject* const* slots) {
    std::vector<engine::FieldDescriptor> descriptors;
    frame::walk_list(frame::as_list(slots[0]),
                     [&](PyObject* item) { descriptors.push_back(limited_field(item)); });
    engine::FieldKeys keys(descriptors);
    std::vector<PyObject*> key_objects;
    for (size_t i = 0; i < descriptors.size(); ++i)
        key_objects.push_back(keys.key(i));
    engine::DictRecordChecks checks(descriptors, key_objects);
    const bool direct = frame::as_bool(slots[2]);
    PyObject* records = frame::as_list(slots[1]);
    const size_t checked = descriptors.size() * size_t(PyList_GET_SIZE(records));
    std::vector<engine::FieldError> errors;
    frame::walk_list(records, [&](PyObject* record) {
        frame::as_dict(record);
        if (direct) return checks.check(record, errors);
        for (size_t i = 0; i < descriptors.size(); ++i) {
            PyObject* found = nullptr;
            if (PyDict_GetItemRef(record, key_objects[i], &found) < 0) frame::throw_fetched();
            const Ref value = Ref::steal(found);
            if (value && value.get() != Py_None) {
                engine::validate_dict_value(descriptors[i], value.get(), errors);
            } else if (!descriptors[i].nullable && !descriptors[i].has_default) {
                errors.push_back(engine::required_error(descriptors[i]));
            }
        }
    });
    return engine::build_report(engine::make_report(std::move(errors), checked));
}

Ref decimal_storage_trusted(PyObject*) {
    return frame::new_bool(engine::decimal_storage_trusted());
}

constexpr const char* kKindValue[] = {"kind", "value"};
constexpr const char* kRecord[] = {"fields", "data", "direct"};
constexpr const char* kDicts[] = {"fields", "records", "direct"};
constexpr frame::ArgumentSpec kValidateDicts{"validate_dicts", nullptr, kDicts, 0, 3, {}};
constexpr frame::ArgumentSpec kDirect{"direct", nullptr, kKindValue, 0, 2, {}};
constexpr frame::ArgumentSpec kGeneric{"generic", nullptr, kKindValue, 0, 2, {}};
constexpr frame::ArgumentSpec kTextForm{"text_form", nullptr, kKindValue, 0, 2, {}};
constexpr frame::ArgumentSpec kDjangoDirect{"django_direct", nullptr, kKindValue, 0, 2, {}};
constexpr frame::ArgumentSpec kDjangoGeneric{"django_generic", nullptr, kKindValue, 0, 2, {}};
constexpr frame::ArgumentSpec kRecordSpec{"record", nullptr, kRecord, 0, 3, {}};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kDefs[] = {
    {"direct", frame::as_cfunction<frame::fastcall<kDirect, direct>>(), kFast, nullptr},
    {"generic", frame::as_cfunction<frame::fastcall<kGeneric, generic>>(), kFast, nullptr},
    {"text_form", frame::as_cfunction<frame::fastcall<kTextForm, text_form>>(), kFast, nullptr},
    {"django_direct", frame::as_cfunction<frame::fastcall<kDjangoDirect, django_direct>>(), kFast,
     nullptr},
    {"django_generic", frame::as_cfunction<frame::fastcall<kDjangoGeneric, django_generic>>(),
     kFast, nullptr},
    {"record", frame::as_cfunction<frame::fastcall<kRecordSpec, record>>(), kFast, nullptr},
    {"decimal_storage_trusted", &frame::noargs<decimal_storage_trusted>, METH_NOARGS, nullptr},
    {"validate_dicts", frame::as_cfunction<frame::fastcall<kValidateDicts, validate_dicts>>(),
     kFast, nullptr},
};

PyMethodDef* const kFunctions[] = {&kDefs[0], &kDefs[1], &kDefs[2], &kDefs[3],
                                   &kDefs[4], &kDefs[5], &kDefs[6], &kDefs[7]};

int exec(PyObject* module) { return frame::exec_module(module, {{}, kFunctions}); }

frame::ModuleDefinition module_definition("_enginetest", exec);

}  // namespace

SORVEL_EXPORT PyObject* PyInit__enginetest() {
    return PyModuleDef_Init(&module_definition.definition);
}
