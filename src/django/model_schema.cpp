#include "django/model_schema.hpp"

#include "django/functions.hpp"
#include "django/model_fields.hpp"
#include "frame/native_class.hpp"

namespace sorvel::django {
namespace {

using frame::Ref;

std::string model_name(PyObject* model_class) {
    Ref name = Ref::steal(PyObject_GetAttrString(model_class, "__name__"));
    Py_ssize_t size = 0;
    const char* data =
        name && PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (data == nullptr) {
        frame::discard_error();
        return "UnknownModel";
    }
    return std::string(data, size_t(size));
}

constexpr const char* kParameters[] = {"model_class"};
constexpr frame::ArgumentSpec kSpec{"__new__", "ModelSchema", kParameters, 0, 1, {}};

ModelSchema build(PyObject* const* slots) {
    std::string name = model_name(slots[0]);
    std::vector<DjangoFieldDescriptor> descriptors = read_model_fields(slots[0]);
    engine::CompiledSchema core(descriptors_to_core(descriptors));
    return ModelSchema{std::move(descriptors), std::move(name), std::move(core)};
}

const ModelSchema& self_schema(PyObject* self) { return frame::payload_of<ModelSchema>(self); }

Ref repr(PyObject* self) {
    const ModelSchema& schema = self_schema(self);
    return frame::new_str("ModelSchema(" + schema.model_name + ", " +
                          std::to_string(schema.descriptors.size()) + " fields)");
}

Py_ssize_t length(PyObject* self) { return Py_ssize_t(self_schema(self).descriptors.size()); }

Ref model_name_str(PyObject* self) { return frame::new_str(self_schema(self).model_name); }

Ref field_names_list(PyObject* self) {
    const ModelSchema& schema = self_schema(self);
    frame::ListFiller names(Py_ssize_t(schema.descriptors.size()));
    for (const auto& d : schema.descriptors)
        names.push(frame::new_str(d.name));
    return names.finish();
}

Ref to_descriptor_list(PyObject* self) {
    return descriptors_to_dicts(self_schema(self).descriptors);
}

PyMethodDef kMethods[] = {
    {"to_descriptor_list", &frame::noargs<to_descriptor_list>, METH_NOARGS,
     "to_descriptor_list($self)\n--\n\nReturns the schema as a list of dicts (for compatibility "
     "with existing APIs)."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef kProperties[] = {{"model_name_str", &frame::getter<model_name_str>, nullptr,
                              "Returns the model class name.", nullptr},
                             {"field_names_list", &frame::getter<field_names_list>, nullptr,
                              "Returns the list of field names in this schema.", nullptr},
                             {nullptr, nullptr, nullptr, nullptr, nullptr}};

constexpr const char* kDoc =
    "ModelSchema(model_class)\n"
    "--\n"
    "\n"
    "A compiled model schema that caches field descriptors for repeated use.\n"
    "\n"
    "Built once at Django startup from a model class, then reused on every\n"
    "request. Eliminates per-request descriptor parsing overhead entirely.\n"
    "\n"
    "Usage from Python:\n"
    "```python\n"
    "schema = sorvel_django.ModelSchema(MyModel)\n"
    "result = sorvel_django.serialize_instance(instance, schema)\n"
    "```";

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&frame::construct<ModelSchema, kSpec, build>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&frame::dealloc<ModelSchema>)},
    {Py_tp_repr, reinterpret_cast<void*>(&frame::unary_slot<repr>)},
    {Py_mp_length, reinterpret_cast<void*>(&frame::length_slot<length>)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kProperties},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {0, nullptr}};

PyType_Spec kTypeSpec{"builtins.ModelSchema", int(sizeof(frame::Instance<ModelSchema>)), 0,
                      Py_TPFLAGS_DEFAULT, kSlots};

frame::Once<PyTypeObject*> type_cell;

Ref extract_model_fields(PyObject*, PyObject* const* slots) {
    return descriptors_to_dicts(read_model_fields(slots[0]));
}

constexpr frame::ArgumentSpec kExtractSpec{"extract_model_fields", nullptr, kParameters, 0, 1, {}};

}  // namespace

PyTypeObject* model_schema_type() { return frame::class_type(type_cell, kTypeSpec); }

const ModelSchema& as_model_schema(PyObject* object) {
    return frame::as_instance<ModelSchema>(object, model_schema_type());
}

PyMethodDef extract_model_fields_def = {
    "extract_model_fields",
    frame::as_cfunction<frame::fastcall<kExtractSpec, extract_model_fields>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "extract_model_fields(model_class)\n--\n\nExtracts field descriptors from a Django model "
    "class.\n\nReturns a list of dicts. For repeated use, prefer `ModelSchema(model_class)`\n"
    "which caches the result."};

}  // namespace sorvel::django
