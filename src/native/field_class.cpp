#include "native/field_class.hpp"

#include <string>

#include "engine/engine_error.hpp"
#include "frame/interned.hpp"
#include "frame/native_class.hpp"

namespace sorvel::native {
namespace {

using engine::EngineError;
using frame::Ref;

constexpr const char* kPositional[] = {"python_type"};
constexpr frame::KeywordParameter kKeywords[] = {
    {"max_length", false}, {"min_length", false},     {"min_value", false}, {"max_value", false},
    {"max_digits", false}, {"decimal_places", false}, {"nullable", false},  {"default", false}};
constexpr frame::ArgumentSpec kSpec{"__new__", "Field", kPositional, 0, 1, kKeywords};

enum Slot {
    kType,
    kMaxLength,
    kMinLength,
    kMinValue,
    kMaxValue,
    kMaxDigits,
    kPlaces,
    kNullable,
    kDefault
};

bool given(PyObject* argument) { return argument != nullptr && argument != Py_None; }

// The __name__ of `python_type`, or "" when it has none that is a str.
std::string type_name(PyObject* python_type) {
    Ref name = Ref::steal(PyObject_GetAttr(python_type, frame::interned::dunder_name()));
    if (!name) {
        frame::discard_error();
        return {};
    }
    if (!PyUnicode_Check(name.get())) return {};
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (data == nullptr) {
        frame::discard_error();
        return {};
    }
    return std::string(data, size_t(size));
}

[[noreturn]] void refuse(const std::string& message) { EngineError::schema(message).raise(); }

FieldDefinition build(PyObject* const* slots) {
    using frame::parameter;
    std::optional<uint64_t> max_length, min_length;
    std::optional<uint32_t> max_digits, places;
    if (given(slots[kMaxLength])) {
        max_length = parameter("max_length", [&] { return frame::as_u64(slots[kMaxLength]); });
    }
    if (given(slots[kMinLength])) {
        min_length = parameter("min_length", [&] { return frame::as_u64(slots[kMinLength]); });
    }
    if (given(slots[kMaxDigits])) {
        max_digits = parameter("max_digits", [&] { return frame::as_u32(slots[kMaxDigits]); });
    }
    if (given(slots[kPlaces])) {
        places = parameter("decimal_places", [&] { return frame::as_u32(slots[kPlaces]); });
    }
    FieldDefinition field;
    if (slots[kNullable] != nullptr) {
        field.nullable = parameter("nullable", [&] { return frame::as_bool(slots[kNullable]); });
    }
    if (slots[kDefault] != nullptr) {
        field.has_default = parameter("default", [&] { return frame::as_bool(slots[kDefault]); });
    }

    const std::string name = type_name(slots[kType]);
    size_t index = 0;
    while (index < std::size(engine::kKindNames) && engine::kKindNames[index] != name)
        ++index;
    if (index == std::size(engine::kKindNames)) {
        refuse("unsupported type: '" + name +
               "'. Supported: str, int, float, bool, Decimal, datetime, date, time, UUID, list, "
               "dict, bytes");
    }

    const bool length = max_length || min_length;
    const bool range = given(slots[kMinValue]) || given(slots[kMaxValue]);
    const bool digits = max_digits || places;
    switch (index) {
        case engine::kind_index<engine::StrKind>:
            if (range) {
                refuse(
                    "Field(str) does not support min_value/max_value. Use max_length/min_length "
                    "instead.");
            }
            if (digits) refuse("Field(str) does not support max_digits/decimal_places.");
            field.kind = engine::StrKind{max_length, min_length};
            break;
        case engine::kind_index<engine::IntKind>:
        case engine::kind_index<engine::FloatKind>: {
            if (length) {
                refuse("Field(" + name +
                       ") does not support max_length/min_length. Use min_value/max_value "
                       "instead.");
            }
            if (digits) refuse("Field(" + name + ") does not support max_digits/decimal_places.");
            PyObject* low = given(slots[kMinValue]) ? slots[kMinValue] : nullptr;
            PyObject* high = given(slots[kMaxValue]) ? slots[kMaxValue] : nullptr;
            if (index == engine::kind_index<engine::IntKind>) {
                engine::IntKind kind;
                if (low != nullptr) kind.min_value = frame::as_i64(low);
                if (high != nullptr) kind.max_value = frame::as_i64(high);
                field.kind = kind;
            } else {
                engine::FloatKind kind;
                if (low != nullptr) kind.min_value = frame::as_double(low);
                if (high != nullptr) kind.max_value = frame::as_double(high);
                field.kind = kind;
            }
            break;
        }
        case engine::kind_index<engine::DecimalKind>:
            if (length) {
                refuse(
                    "Field(Decimal) does not support max_length/min_length. Use "
                    "max_digits/decimal_places instead.");
            }
            if (range) {
                refuse(
                    "Field(Decimal) does not support min_value/max_value. Use "
                    "max_digits/decimal_places instead.");
            }
            field.kind = engine::DecimalKind{max_digits, places};
            break;
        case engine::kind_index<engine::BytesKind>:  // a minimum length is accepted, unused
            if (range || digits) {
                refuse(
                    "Field(bytes) only supports max_length. Not min_value/max_value or "
                    "max_digits.");
            }
            field.kind = engine::BytesKind{max_length};
            break;
        default:
            if (length || range || digits) {
                refuse("Field(" + name +
                       ") does not support constraints. Only nullable and default are valid.");
            }
            field.kind = engine::kind_from_index(index);
            break;
    }
    return field;
}

Ref repr(PyObject* self) {
    const FieldDefinition& field = frame::payload_of<FieldDefinition>(self);
    std::string text = "Field(";
    text += engine::kind_name(field.kind);
    text += field.nullable ? ", nullable=true)" : ", nullable=false)";
    return frame::new_str(text);
}

constexpr const char* kDoc =
    "Field(python_type, *, max_length=None, min_length=None, min_value=None, max_value=None, "
    "max_digits=None, decimal_places=None, nullable=False, default=False)\n"
    "--\n"
    "\n"
    "Defines a single field's type and constraints.\n"
    "\n"
    "Python usage:\n"
    "```python\n"
    "from sorvel_core import Field\n"
    "from decimal import Decimal\n"
    "from datetime import datetime\n"
    "\n"
    "Field(str, max_length=100)\n"
    "Field(int, min_value=0, max_value=150)\n"
    "Field(Decimal, max_digits=10, decimal_places=2)\n"
    "Field(datetime)\n"
    "Field(str, nullable=True)\n"
    "```";

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&frame::construct<FieldDefinition, kSpec, build>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&frame::dealloc<FieldDefinition>)},
    {Py_tp_repr, reinterpret_cast<void*>(&frame::unary_slot<repr>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {0, nullptr}};

PyType_Spec kTypeSpec{"builtins.Field", int(sizeof(frame::Instance<FieldDefinition>)), 0,
                      Py_TPFLAGS_DEFAULT, kSlots};

frame::Once<PyTypeObject*> type_cell;

}  // namespace

PyTypeObject* field_type() { return frame::class_type(type_cell, kTypeSpec); }

}  // namespace sorvel::native
