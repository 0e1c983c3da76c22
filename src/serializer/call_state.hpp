// What one dump call carries down through rows and nested plans.
#pragma once

#include <Python.h>

#include <string>

#include "serializer/failure.hpp"
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

// One level deeper for as long as it lives; refused past kMaxDepth. The dict and JSON writers
// take one for each plan and plain container they go into.
struct Nesting {
    explicit Nesting(CallState& state) : state_(state) {
        if (++state_.depth > kMaxDepth) {
            --state_.depth;
            fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
    }
    ~Nesting() { --state_.depth; }
    CallState& state_;
};

}  // namespace sorvel::serializer
