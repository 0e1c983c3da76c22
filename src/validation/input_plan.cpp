#include "validation/input_plan.hpp"

#include <string_view>
#include <utility>

#include "frame/convert.hpp"
#include "frame/error.hpp"

namespace sorvel::validation {
namespace {

using frame::Ref;

constexpr const char* kCapsuleName = "sorvel.input_plan";

// The spec's value under `name`; null when absent or None.
Ref item(PyObject* spec, const char* name) {
    PyObject* value = nullptr;
    if (PyDict_GetItemStringRef(spec, name, &value) < 0) frame::throw_fetched();
    Ref owned = Ref::steal(value);
    if (owned.get() == Py_None) return {};
    return owned;
}

Ref required(PyObject* spec, const char* name) {
    Ref value = item(spec, name);
    if (!value) frame::throw_value_error(std::string("input plan spec lacks '") + name + "'");
    return value;
}

bool flag(PyObject* spec, const char* name) {
    Ref value = item(spec, name);
    return value && frame::as_bool(value.get());
}

std::string_view text_of(PyObject* spec, const char* name, Ref& keep) {
    keep = required(spec, name);
    return frame::as_text(keep.get());
}

Kind kind_named(std::string_view name) {
    static constexpr std::pair<std::string_view, Kind> kKinds[] = {
        {"text", Kind::text},         {"integer", Kind::integer},   {"float", Kind::floating},
        {"decimal", Kind::decimal},   {"boolean", Kind::boolean},   {"date", Kind::date},
        {"datetime", Kind::datetime}, {"time", Kind::time},         {"uuid", Kind::uuid},
        {"json", Kind::json},         {"identity", Kind::identity}, {"python", Kind::python},
        {"slow", Kind::slow}};
    for (auto [known, kind] : kKinds)
        if (known == name) return kind;
    frame::throw_value_error("unknown field kind in input plan spec: " + std::string(name));
}

CheckKind check_named(std::string_view name) {
    static constexpr std::pair<std::string_view, CheckKind> kChecks[] = {
        {"max_length", CheckKind::max_length},
        {"min_length", CheckKind::min_length},
        {"min_value", CheckKind::min_value},
        {"max_value", CheckKind::max_value},
        {"decimal", CheckKind::decimal},
        {"email", CheckKind::email},
        {"url", CheckKind::url},
        {"slug", CheckKind::slug},
        {"ipv46", CheckKind::ipv46}};
    for (auto [known, kind] : kChecks)
        if (known == name) return kind;
    frame::throw_value_error("unknown check in input plan spec: " + std::string(name));
}

int64_t optional_i64(PyObject* spec, const char* name) {
    Ref value = item(spec, name);
    return value ? frame::as_i64(value.get()) : -1;
}

Check build_check(PyObject* spec) {
    if (!PyDict_Check(spec)) frame::throw_type_error("input plan check must be a dict");
    Ref keep;
    Check check;
    check.kind = check_named(text_of(spec, "check", keep));
    check.key = required(spec, "key");
    switch (check.kind) {
        case CheckKind::max_length:
        case CheckKind::min_length:
            check.size = frame::as_i64(required(spec, "size").get());
            break;
        case CheckKind::min_value:
        case CheckKind::max_value: {
            check.limit = required(spec, "limit");
            if (PyLong_CheckExact(check.limit.get())) {
                int overflow = 0;
                check.limit_int = PyLong_AsLongLongAndOverflow(check.limit.get(), &overflow);
                if (check.limit_int == -1 && PyErr_Occurred()) frame::throw_fetched();
                check.limit_is_int = overflow == 0;
            }
            break;
        }
        case CheckKind::decimal:
            check.max_digits = optional_i64(spec, "max_digits");
            check.decimal_places = optional_i64(spec, "decimal_places");
            check.places_key = required(spec, "places_key");
            check.whole_key = required(spec, "whole_key");
            break;
        default:
            break;
    }
    if (Ref words = item(spec, "words"))
        check.words = frame::as_vector<std::string>(
            words.get(), [](PyObject* word) { return std::string(frame::as_text(word)); });
    check.fallback = item(spec, "fallback");
    return check;
}

FieldPlan build_field(PyObject* spec) {
    if (!PyDict_Check(spec)) frame::throw_type_error("input plan field spec must be a dict");
    FieldPlan field;
    Ref keep;
    field.key = required(spec, "key");
    if (!PyUnicode_CheckExact(field.key.get()))
        frame::throw_type_error("an input plan field key must be a str");
    field.attname = required(spec, "attname");
    field.kind = kind_named(text_of(spec, "kind", keep));
    field.blank = flag(spec, "blank");
    field.null = flag(spec, "null");
    field.editable = flag(spec, "editable");
    field.missing = item(spec, "missing");
    field.convert = item(spec, "convert");
    field.choices = item(spec, "choices");
    field.validators = item(spec, "validators");
    field.clean = item(spec, "clean");
    field.json_check = item(spec, "json_check");
    if (field.kind == Kind::slow && !field.clean)
        frame::throw_value_error("a slow field of an input plan needs 'clean'");
    if (field.kind != Kind::slow && !field.convert)
        frame::throw_value_error("a field of an input plan needs 'convert'");
    if (Ref checks = item(spec, "checks"))
        field.checks = frame::as_vector<Check>(checks.get(), build_check);
    field.plain = field.editable && !field.blank && !field.choices && !field.validators &&
                  field.kind != Kind::json && field.kind != Kind::python &&
                  field.kind != Kind::slow;
    return field;
}

void destroy(PyObject* capsule) {
    delete static_cast<InputPlan*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace

InputPlan build_input_plan(PyObject* specs) {
    InputPlan plan{frame::as_vector<FieldPlan>(specs, build_field), nullptr};
    Ref seen = frame::new_dict();
    std::vector<PyObject*> attnames;
    bool all_str = true;
    for (const FieldPlan& field : plan.fields) {
        int present = PyDict_Contains(seen.get(), field.attname.get());
        if (present < 0) frame::throw_fetched();
        if (present) frame::throw_value_error("an input plan names a field twice");
        frame::dict_set(seen.get(), field.attname.get(), Py_None);
        attnames.push_back(field.attname.get());
        all_str = all_str && PyUnicode_CheckExact(field.attname.get());
    }
    // The plan's fields own the keys for as long as the template lives.
    if (all_str) plan.output = std::make_unique<frame::DictTemplate>(attnames);
    return plan;
}

Ref wrap_input_plan(InputPlan plan) {
    auto* owned = new InputPlan(std::move(plan));
    PyObject* capsule = PyCapsule_New(owned, kCapsuleName, destroy);
    if (capsule == nullptr) {
        delete owned;
        frame::throw_fetched();
    }
    return Ref::steal(capsule);
}

const InputPlan& input_plan_of(PyObject* capsule) {
    void* pointer = PyCapsule_GetPointer(capsule, kCapsuleName);
    if (pointer == nullptr) frame::throw_fetched();
    return *static_cast<const InputPlan*>(pointer);
}

}  // namespace sorvel::validation
