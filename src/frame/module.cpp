#include "frame/module.hpp"

#include "frame/convert.hpp"
#include "frame/entry.hpp"
#include "frame/interned.hpp"

namespace sorvel::frame {

void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    Ref all = Ref::steal(PyObject_GetAttr(module, interned::dunder_all()));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_fetched();
        PyErr_Clear();
        all = new_list();
        if (PyObject_SetAttr(module, interned::dunder_all(), all.get()) < 0) throw_fetched();
    } else if (!PyList_Check(all.get())) {
        throw_not_instance(all.get(), "list");
    }
    if (PyList_Append(all.get(), name) < 0) {
        PyErr_WriteUnraisable(nullptr);
        fault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) throw_fetched();
}

namespace {

Ref bound_function(PyObject* module, PyMethodDef* definition) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) throw_fetched();
    Ref function = Ref::steal(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) throw_fetched();
    return function;
}

}  // namespace

void add_private_function(PyObject* module, PyMethodDef* definition) {
    Ref function = bound_function(module, definition);
    if (PyObject_SetAttrString(module, definition->ml_name, function.get()) < 0) throw_fetched();
}

void add_function(PyObject* module, PyMethodDef* definition) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) throw_fetched();
    Ref function = Ref::steal(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) throw_fetched();
    Ref name = Ref::steal(PyObject_GetAttr(function.get(), interned::dunder_name()));
    if (!name) throw_fetched();
    if (!PyUnicode_Check(name.get())) throw_not_instance(name.get(), "str");
    add_to_module(module, name.get(), function.get());
}

int exec_module(PyObject* module, const ModuleContents& contents) {
    return enter_status([&] {
        if (module == nullptr) throw_fetched();
        if (!PyModule_Check(module)) throw_not_instance(module, "module");
        for (PyTypeObject* (*get_type)() : contents.classes) {
            PyTypeObject* type = get_type();
            Ref name = Ref::steal(
                PyObject_GetAttr(reinterpret_cast<PyObject*>(type), interned::dunder_name()));
            if (!name) throw_fetched();
            add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type));
        }
        for (PyMethodDef* definition : contents.functions)
            add_function(module, definition);
    });
}

}  // namespace sorvel::frame
