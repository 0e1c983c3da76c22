// What one dump call carries down through rows and nested plans.
#pragma once

#include <Python.h>

#include "serializer/text_buffer.hpp"

namespace sorvel::serializer {

struct Plan;

struct CallState {
    const Plan& plan;        // the outermost plan (its types serve nested plans too)
    PyObject* tz = nullptr;  // the current time zone for kLocalTime columns, or None
    TextBuffer scratch;      // text forms on their way to a str
    int depth = 0;           // nesting of plans and plain containers
};

// Deeper nesting than this is refused: it bounds the writers' recursion.
inline constexpr int kMaxDepth = 200;

}  // namespace sorvel::serializer
