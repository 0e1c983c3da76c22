#include "frame/attach.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "frame/panic.hpp"
#include "frame/ref.hpp"

namespace sorvel::frame {

[[gnu::tls_model("initial-exec")]] thread_local int attach_count = 0;

namespace {

struct Pending {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

std::atomic<bool> pending_nonempty{false};

Pending& pending() {
    static Pending* list = new Pending();  // process-wide, never freed
    return *list;
}

}  // namespace

void release_pending() noexcept {
    if (!pending_nonempty.load(std::memory_order_acquire)) return;
    std::vector<PyObject*> taken;
    {
        Pending& list = pending();
        std::lock_guard lock(list.mutex);
        taken.swap(list.objects);
        pending_nonempty.store(false, std::memory_order_release);
    }
    for (PyObject* object : taken)
        Py_DECREF(object);
}

void defer_release(PyObject* object) noexcept {
    Pending& list = pending();
    std::lock_guard lock(list.mutex);
    list.objects.push_back(object);
    pending_nonempty.store(true, std::memory_order_release);
}

Attached::Attached() noexcept {
    // A negative count would mark a thread on which attaching is forbidden; nothing in this
    // library sets one, so meeting it means the bookkeeping is broken.
    if (attach_count < 0) abort_uncaught();
    ++attach_count;
    release_pending();
}

Attached::~Attached() { --attach_count; }

DetachedState release_lock() noexcept {
    const int saved = attach_count;
    attach_count = 0;
    return {PyEval_SaveThread(), saved};
}

void reattach(DetachedState state) {
    PyEval_RestoreThread(state.thread);
    attach_count = state.saved_count;
    release_pending();
}

}  // namespace sorvel::frame
