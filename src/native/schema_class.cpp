#include "native/schema_class.hpp"

#include <string>

#include "frame/native_class.hpp"
#include "native/field_class.hpp"

namespace sorvel::native {
namespace {

using frame::Ref;

constexpr const char* kPositional[] = {"fields"};
constexpr frame::ArgumentSpec kSpec{"__new__", "Schema", kPositional, 0, 1, {}};

engine::CompiledSchema build(PyObject* const* slots) {
    PyObject* fields = frame::parameter("fields", [&] { return frame::as_dict(slots[0]); });
    std::vector<engine::FieldDescriptor> descriptors;
    descriptors.reserve(size_t(PyDict_GET_SIZE(fields)));
    PyTypeObject* field_class = field_type();
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(fields, &position, &key, &value)) {
        std::string_view name = frame::as_text(key);
        const auto& field = frame::as_instance<FieldDefinition>(value, field_class);
        descriptors.push_back({std::string(name), field.kind, field.nullable, field.has_default});
    }
    return engine::CompiledSchema(std::move(descriptors));
}

Ref repr(PyObject* self) {
    const auto& schema = frame::payload_of<engine::CompiledSchema>(self);
    return frame::new_str("Schema(" + std::to_string(schema.descriptors.size()) + " fields)");
}

Ref field_names_list(PyObject* self) {
    const auto& schema = frame::payload_of<engine::CompiledSchema>(self);
    frame::ListFiller names(Py_ssize_t(schema.descriptors.size()));
    for (const auto& descriptor : schema.descriptors)
        names.push(frame::new_str(descriptor.name));
    return names.finish();
}

PyMethodDef kMethods[] = {
    {"field_names_list", &frame::noargs<field_names_list>, METH_NOARGS,
     "field_names_list($self)\n--\n\nReturns the list of field names in declaration order."},
    {nullptr, nullptr, 0, nullptr}};

constexpr const char* kDoc =
    "Schema(fields)\n"
    "--\n"
    "\n"
    "A compiled schema that caches field descriptors for repeated use.\n"
    "\n"
    "Built once from a dict of field definitions, then reused on every\n"
    "serialize/validate call with zero per-call parsing overhead.\n"
    "\n"
    "Python usage:\n"
    "```python\n"
    "from sorvel_core import Schema, Field\n"
    "schema = Schema({\"name\": Field(str, max_length=100), \"age\": Field(int)})\n"
    "```";

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&frame::construct<engine::CompiledSchema, kSpec, build>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&frame::dealloc<engine::CompiledSchema>)},
    {Py_tp_repr, reinterpret_cast<void*>(&frame::unary_slot<repr>)},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {0, nullptr}};

PyType_Spec kTypeSpec{"builtins.Schema", int(sizeof(frame::Instance<engine::CompiledSchema>)), 0,
                      Py_TPFLAGS_DEFAULT, kSlots};

frame::Once<PyTypeObject*> type_cell;

}  // namespace

PyTypeObject* schema_type() { return frame::class_type(type_cell, kTypeSpec); }

const engine::CompiledSchema& as_schema(PyObject* object) {
    return frame::as_instance<engine::CompiledSchema>(object, schema_type());
}

}  // namespace sorvel::native
