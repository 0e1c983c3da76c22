// The depth guard of every call entry. Python code that native code calls may call the library
// again (a Decimal subclass whose __str__ serializes), and each round puts native frames on the
// C stack besides the interpreter's own. The interpreter's recursion check counts rounds; the
// stack check refuses a round when little of the thread's stack is left, which matters on
// threads with small stacks, where the stack runs out long before the count does. Both refuse
// with RecursionError, as pure Python recursion does.
#pragma once

#include <Python.h>

#include <cstdint>

namespace sorvel::frame {

// Lowest stack address this thread may reach before a call is refused; 0 until first known.
[[gnu::tls_model("initial-exec")]] extern thread_local uintptr_t stack_floor;

uintptr_t find_stack_floor() noexcept;

// Call on entry: false, with RecursionError set, when the call must not go deeper. After a true
// answer, leave_depth() must follow once the call is done (not when the thread is being ended).
[[nodiscard]] inline bool enter_depth() noexcept {
    uintptr_t floor = stack_floor;
    if (floor == 0) [[unlikely]]
        floor = find_stack_floor();
    if (uintptr_t(__builtin_frame_address(0)) < floor) [[unlikely]] {
        PyErr_SetString(PyExc_RecursionError,
                        "maximum recursion depth exceeded (native stack nearly full)");
        return false;
    }
    return Py_EnterRecursiveCall(" in native code") == 0;
}

inline void leave_depth() noexcept { Py_LeaveRecursiveCall(); }

}  // namespace sorvel::frame
