// Argument extraction with CPython's own wording. Each callable has one static ArgumentSpec;
// extraction fills one borrowed slot per parameter (null when not given) and allocates nothing
// unless it fails.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace sorvel::frame {

struct KeywordParameter {
    const char* name;
    bool required;
};

struct ArgumentSpec {
    const char* function;
    const char* class_name;  // null for module functions
    std::span<const char* const> positional;
    size_t positional_only;
    size_t required_positional;
    std::span<const KeywordParameter> keyword_only;

    size_t slot_count() const { return positional.size() + keyword_only.size(); }
};

inline constexpr size_t kMaxParameters = 12;

// Vector call: `args[0..nargs)` positional, then the values of `kwnames`.
void extract(const ArgumentSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
             PyObject** slots);

// Tuple-and-dict call (tp_new).
void extract(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, PyObject** slots);

}  // namespace sorvel::frame
