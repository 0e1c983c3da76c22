#include "frame/recursion.hpp"

#include <pthread.h>

#include <algorithm>

namespace sorvel::frame {

[[gnu::tls_model("initial-exec")]] thread_local uintptr_t stack_floor = 0;

namespace {

// What a call may still need below the check: the library's own frames for one call, and the
// interpreter's frames of whatever Python code that call runs before it enters again.
constexpr size_t kLargestReserve = size_t{256} << 10;

}  // namespace

uintptr_t find_stack_floor() noexcept {
    uintptr_t floor = 1;  // unknown bounds: only the interpreter's check applies
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &low, &size) == 0 && low != nullptr) {
            floor = uintptr_t(low) + std::min(kLargestReserve, size / 4);
        }
        pthread_attr_destroy(&attributes);
    }
    stack_floor = floor;
    return floor;
}

}  // namespace sorvel::frame
