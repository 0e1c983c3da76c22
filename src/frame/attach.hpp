// The interpreter-lock discipline: which thread is attached, what happens to references dropped
// by a thread that is not, and `detach`, the one way the library releases the lock.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <type_traits>

namespace sorvel::frame {

// Marks one active frame entry on this thread for its lifetime, and applies the references
// queued by detached threads.
class Attached {
  public:
    Attached() noexcept;
    ~Attached();
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;
};

// Applies the deferred releases, if any are queued. Requires the interpreter lock.
void release_pending() noexcept;

// Releases the interpreter lock; the thread counts as not attached until `reattach`.
struct DetachedState {
    PyThreadState* thread;
    int saved_count;
};
DetachedState release_lock() noexcept;

// Takes the lock back and applies the deferred releases. While the interpreter finalizes,
// CPython ends a thread that asks for the lock (pthread_exit, which unwinds the stack as a
// forced unwind). That unwind must be able to pass: this is never called from a destructor or
// a noexcept function, and no handler on the way up may swallow it. The references released
// on the way stay queued, as the thread no longer counts as attached.
void reattach(DetachedState state);

// Runs `work` with the interpreter lock released. `work` must not touch Python objects; it may
// use the worker pool. The lock is taken back also when `work` throws, and the exception then
// continues.
template <class Work>
auto detach(Work&& work) -> std::invoke_result_t<Work&> {
    using Result = std::invoke_result_t<Work&>;
    std::exception_ptr failure;
    const DetachedState state = release_lock();
    if constexpr (std::is_void_v<Result>) {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        reattach(state);
        if (failure) std::rethrow_exception(failure);
    } else {
        std::optional<Result> result;
        try {
            result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        reattach(state);
        if (failure) std::rethrow_exception(failure);
        return std::move(*result);
    }
}

}  // namespace sorvel::frame
