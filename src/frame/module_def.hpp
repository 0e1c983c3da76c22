// The static definition a module's two entry points hand to the interpreter: multi-phase
// initialisation with an exec slot, no per-module state, and no reliance on the GIL for the
// library's own process-wide objects.
#pragma once

#include <Python.h>

#define SORVEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace sorvel::frame {

struct ModuleDefinition {
    PyModuleDef_Slot slots[3];
    PyModuleDef definition;

    ModuleDefinition(const char* name, int (*exec)(PyObject*))
        : slots{{Py_mod_exec, reinterpret_cast<void*>(exec)},
                {Py_mod_gil, Py_MOD_GIL_NOT_USED},
                {0, nullptr}},
          definition{PyModuleDef_HEAD_INIT,
                     name,
                     "The native extension module.",
                     0,
                     nullptr,
                     slots,
                     nullptr,
                     nullptr,
                     nullptr} {}
};

}  // namespace sorvel::frame
