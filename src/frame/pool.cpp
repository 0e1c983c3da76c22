#include "frame/pool.hpp"

#include <sched.h>

#include <charconv>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <oneapi/tbb/global_control.h>

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
    const size_t processors = available_processors();
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
          arena(int(count)) {}
};

Pool& the_pool() {
    // Never destroyed: worker threads may outlive every module, and the process ends them.
    static Pool* pool = new Pool(configured_threads());
    return *pool;
}

}  // namespace

std::optional<size_t> parse_thread_count(std::string_view text, size_t processors) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value == 0 ? processors : value;
}

oneapi::tbb::task_arena& arena() { return the_pool().arena; }
size_t thread_count() { return the_pool().threads; }

}  // namespace sorvel::frame::pool
