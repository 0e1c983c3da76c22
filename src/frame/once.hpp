// Process-wide values created once on first need. A thread that finds another thread creating
// the value waits with the interpreter lock released, so that the creator can take the lock.
// Creation may run Python code (an import, a lookup in sys.modules), and that code may call the
// library again on the same thread (an import hook, an audit hook): waiting for itself would
// hang forever, so that inner call fails with RuntimeError instead, and the outer creation goes
// on. A creation that fails is tried again by the next caller.
#pragma once

#include <Python.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "frame/attach.hpp"

namespace sorvel::frame {

[[noreturn]] void throw_reentered_creation();

template <class T>
class Once {
  public:
    // Requires the interpreter lock; `make` runs with it held.
    template <class Make>
    T& get(Make&& make) {
        if (ready_.load(std::memory_order_acquire)) [[likely]]
            return *value_;
        return create(make);
    }

    // The value if it was created, else null; never creates it.
    const T* peek() const noexcept {
        return ready_.load(std::memory_order_acquire) ? &*value_ : nullptr;
    }

  private:
    template <class Make>
    T& create(Make& make) {
        const std::thread::id self = std::this_thread::get_id();
        std::unique_lock lock(mutex_);
        while (creating_ && !ready_.load(std::memory_order_relaxed)) {
            if (creator_ == self) {
                lock.unlock();
                throw_reentered_creation();
            }
            lock.unlock();
            wait_for_creator();
            lock.lock();
        }
        if (ready_.load(std::memory_order_relaxed)) return *value_;
        creating_ = true;
        creator_ = self;
        lock.unlock();
        try {
            value_.emplace(make());
        } catch (...) {
            finish(false);
            throw;
        }
        finish(true);
        return *value_;
    }

    // Waits, without the interpreter lock, until no creation is under way.
    void wait_for_creator() {
        const DetachedState state = release_lock();
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [&] { return !creating_; });
        }
        reattach(state);
    }

    void finish(bool created) noexcept {
        {
            std::lock_guard lock(mutex_);
            if (created) ready_.store(true, std::memory_order_release);
            creating_ = false;
            creator_ = std::thread::id();
        }
        done_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable done_;
    bool creating_ = false;
    std::thread::id creator_;
    std::atomic<bool> ready_{false};
    std::optional<T> value_;
};

}  // namespace sorvel::frame
