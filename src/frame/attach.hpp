// The interpreter-lock discipline: which thread is attached, what happens to references dropped
// by a thread that is not, and `detach`, the one way the library releases the lock.
#pragma once

#include <Python.h>

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

class Detached {
  public:
    Detached() noexcept;
    ~Detached();
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

  private:
    int saved_count_;
    PyThreadState* state_;
};

// Runs `work` with the interpreter lock released. `work` must not touch Python objects; it may
// use the worker pool. The lock is taken back also when `work` throws.
template <class Work>
auto detach(Work&& work) -> std::invoke_result_t<Work&> {
    Detached scope;
    return work();
}

}  // namespace sorvel::frame
