// Module sorvel_django: the Django integration, served by the same library as _native.
#include "frame/module.hpp"
#include "django/functions.hpp"
#include "django/model_schema.hpp"
#include "frame/entry.hpp"
#include "frame/module_def.hpp"
#include "serializer/plan.hpp"
#include "validation/functions.hpp"

namespace sorvel::django {
namespace {

PyTypeObject* (*const kClasses[])() = {model_schema_type};

// The order of __all__.
PyMethodDef* const kFunctions[] = {&serialize_instance_def,    &serialize_batch_def,
                                   &serialize_values_list_def, &validate_instance_def,
                                   &extract_model_fields_def,  &serialize_fields_def,
                                   &validate_fields_def,       &version_def};

// Input-plan kernels of sorvel.django.
PyMethodDef* const kPrivateFunctions[] = {&validation::compile_input_plan_def,
                                          &validation::validate_rows_def,
                                          &validation::render_messages_def};

// The kernels of sorvel.django are private names: set on the module, kept out of __all__.
int exec(PyObject* module) {
    if (frame::exec_module(module, {kClasses, kFunctions}) < 0) return -1;
    return frame::enter_status([&] {
        PyObject* plan = reinterpret_cast<PyObject*>(serializer::plan_type());
        if (PyObject_SetAttrString(module, "_Plan", plan) < 0) frame::throw_fetched();
        for (PyMethodDef* definition : kPrivateFunctions)
            frame::add_private_function(module, definition);
    });
}

frame::ModuleDefinition module_definition("sorvel_django", exec);

}  // namespace
}  // namespace sorvel::django

SORVEL_EXPORT PyObject* PyInit_sorvel_django() {
    return PyModuleDef_Init(&sorvel::django::module_definition.definition);
}

SORVEL_EXPORT PyModuleDef_Slot* PyModExport_sorvel_django() {
    return sorvel::django::module_definition.slots;
}
