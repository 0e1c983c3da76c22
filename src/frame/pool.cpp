#include "frame/pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include <oneapi/tbb/global_control.h>

#include "frame/error.hpp"

namespace sorvel::frame::pool {
namespace {

size_t available_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return size_t(count);
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

std::optional<size_t> from_variable(const char* name, size_t processors) {
    const char* text = std::getenv(name);
    if (text == nullptr) return std::nullopt;
    return parse_thread_count(text, processors);
}

size_t configured_threads() {
    const size_t processors = std::min(available_processors(), kMaxThreads);
    if (auto count = from_variable("RAYON_NUM_THREADS", processors)) return *count;
    if (auto count = from_variable("RAYON_RS_NUM_CPUS", processors)) return *count;
    return processors;
}

struct Pool {
    size_t threads;
    // TBB caps its workers at the hardware count unless told otherwise; a pool sized above it
    // must still get the threads it asked for.
    oneapi::tbb::global_control limit;
    oneapi::tbb::task_arena arena;

    explicit Pool(size_t count)
        : threads(count),
          limit(oneapi::tbb::global_control::max_allowed_parallelism, count),
          arena(int(count)) {
        arena.initialize();
    }
};

// Created once and never destroyed: worker threads may outlive every module, and the process
// ends them. A creation that throws leaves it null for the next use to try again.
std::atomic<Pool*> the_pool{nullptr};
std::mutex creation;

Pool& pool() {
    if (Pool* existing = the_pool.load(std::memory_order_acquire)) [[likely]]
        return *existing;
    std::lock_guard lock(creation);
    if (Pool* existing = the_pool.load(std::memory_order_relaxed)) return *existing;
    try {
        Pool* created = new Pool(configured_threads());
        the_pool.store(created, std::memory_order_release);
        return *created;
    } catch (const std::exception& error) {
        throw PythonError(PyExc_RuntimeError,
                          std::string("the worker pool could not be started: ") + error.what());
    }
}

// --- fork ----------------------------------------------------------------------------------

// Pooled work holds this shared; a fork holds it exclusively from prepare to the parent's or
// child's handler, so that no work is under way while the process is copied. The child gets a
// fresh one: a lock cannot be released by the child's thread, which is not the one that took it.
std::shared_timed_mutex* gate = new std::shared_timed_mutex();
// How long a fork waits for pooled work to finish before it goes on without.
constexpr auto kForkPatience = std::chrono::seconds(2);
bool fork_holds_gate = false;  // only the forking thread touches it
// Set in a child forked while work was under way; never cleared (its children inherit it).
std::atomic<bool> pool_unusable{false};

void before_fork() { fork_holds_gate = gate->try_lock_for(kForkPatience); }

void after_fork_in_parent() {
    if (fork_holds_gate) gate->unlock();
}

// A started pool is never trusted in a child, even one forked between two pooled calls: oneTBB's
// workers go on leaving the arena and parking after a call returns, holding its internal locks,
// and a child copied in that window waits on them forever. Only a pool the child starts itself
// (none was started before the fork) runs on worker threads there.
void after_fork_in_child() {
    gate = new std::shared_timed_mutex();  // the inherited one stays taken, and is never freed
    if (!fork_holds_gate || the_pool.load(std::memory_order_relaxed) != nullptr) {
        pool_unusable.store(true, std::memory_order_relaxed);
    }
}

void watch_forks() {
    static std::once_flag registered;  // runs no Python code: call_once cannot be re-entered
    std::call_once(registered,
                   [] { pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child); });
}

}  // namespace

Work::Work() : inline_only_(pool_unusable.load(std::memory_order_relaxed)) {
    if (inline_only_) return;
    watch_forks();
    gate->lock_shared();
}

Work::~Work() {
    if (!inline_only_) gate->unlock_shared();
}

std::optional<size_t> parse_thread_count(std::string_view text, size_t processors) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min(value * 10 + size_t(c - '0'), kMaxThreads + 1);
    }
    if (value == 0) return processors;
    return std::min(value, kMaxThreads);
}

oneapi::tbb::task_arena& arena() { return pool().arena; }

size_t thread_count() {
    Work work;
    if (work.inline_only()) {
        const Pool* existing = the_pool.load(std::memory_order_acquire);
        return existing != nullptr ? existing->threads : configured_threads();
    }
    return pool().threads;
}

}  // namespace sorvel::frame::pool
