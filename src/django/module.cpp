// Module sorvel_django: the Django integration, served by the same library as _native.
#include "frame/module.hpp"
#include "django/functions.hpp"
#include "django/model_schema.hpp"
#include "frame/module_def.hpp"

namespace sorvel::django {
namespace {

PyTypeObject* (*const kClasses[])() = {model_schema_type};

// The order of __all__.
PyMethodDef* const kFunctions[] = {&serialize_instance_def,    &serialize_batch_def,
                                   &serialize_values_list_def, &validate_instance_def,
                                   &extract_model_fields_def,  &serialize_fields_def,
                                   &validate_fields_def,       &version_def};

int exec(PyObject* module) { return frame::exec_module(module, {kClasses, kFunctions}); }

frame::ModuleDefinition module_definition("sorvel_django", exec);

}  // namespace
}  // namespace sorvel::django

SORVEL_EXPORT PyObject* PyInit_sorvel_django() {
    return PyModuleDef_Init(&sorvel::django::module_definition.definition);
}

SORVEL_EXPORT PyModuleDef_Slot* PyModExport_sorvel_django() {
    return sorvel::django::module_definition.slots;
}
