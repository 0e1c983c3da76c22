// Module _native: the schema engine's Python face.
#include "frame/module.hpp"
#include "frame/module_def.hpp"
#include "native/field_class.hpp"
#include "native/functions.hpp"
#include "native/schema_class.hpp"

namespace sorvel::native {
namespace {

PyTypeObject* (*const kClasses[])() = {schema_type, field_type};

// The order of __all__.
PyMethodDef* const kFunctions[] = {
    &serialize_def,          &serialize_many_def,       &validate_def,
    &validate_many_def,      &validate_names_batch_def, &validate_ids_batch_def,
    &compute_risk_batch_def, &batch_stats_def,          &version_def};

int exec(PyObject* module) { return frame::exec_module(module, {kClasses, kFunctions}); }

frame::ModuleDefinition module_definition("_native", exec);

}  // namespace
}  // namespace sorvel::native

SORVEL_EXPORT PyObject* PyInit__native() {
    return PyModuleDef_Init(&sorvel::native::module_definition.definition);
}

SORVEL_EXPORT PyModuleDef_Slot* PyModExport__native() {
    return sorvel::native::module_definition.slots;
}
