// Process-wide values created once on first need. A thread that finds another thread creating
// the value waits with the interpreter lock released, so that the creator can take the lock.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <optional>

namespace sorvel::frame {

template <class T>
class Once {
  public:
    // Requires the interpreter lock; `make` runs with it held.
    template <class Make>
    T& get(Make&& make) {
        if (ready_.load(std::memory_order_acquire)) return *value_;
        PyThreadState* state = PyEval_SaveThread();
        try {
            std::call_once(flag_, [&] {
                PyEval_RestoreThread(state);
                try {
                    value_.emplace(make());
                } catch (...) {
                    state = PyEval_SaveThread();
                    throw;
                }
                state = PyEval_SaveThread();
            });
        } catch (...) {
            PyEval_RestoreThread(state);
            throw;
        }
        PyEval_RestoreThread(state);
        ready_.store(true, std::memory_order_release);
        return *value_;
    }

    // The value if it was created, else null; never creates it.
    const T* peek() const noexcept {
        return ready_.load(std::memory_order_acquire) ? &*value_ : nullptr;
    }

  private:
    std::once_flag flag_;
    std::atomic<bool> ready_{false};
    std::optional<T> value_;
};

}  // namespace sorvel::frame
