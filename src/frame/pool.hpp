// The process-wide worker pool: one work-stealing arena, created on first parallel use and never
// shut down. Its size is read once from RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS, else the
// processors this process may run on, and kept to at most kMaxThreads. A fault thrown on a
// worker is carried back to the thread that started the work and rethrown there.
//
// fork(): the child of a process has only the forking thread, and a pool caught in the middle
// of work (its locks held by workers that do not exist there) would hang the child's next call.
// So a fork waits until no pooled work is under way, which leaves the child a pool in the same
// state as after any finished call. Should the work not finish in time, the fork goes on, and
// in the child, whose inherited pool cannot be trusted, pooled work runs on the calling thread,
// with the same results (the reduction splits its range exactly as the pool does).
#pragma once

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvel::frame::pool {

inline constexpr size_t kMaxThreads = 256;

// Marks pooled work under way for its lifetime; a fork waits for it. `inline_only()` says that
// this process is a child forked while work was under way: the work must not use the pool.
class Work {
  public:
    Work();
    ~Work();
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    bool inline_only() const noexcept { return inline_only_; }

  private:
    bool inline_only_;
};

// The arena all parallel work runs in (creates the pool; a creation that fails raises
// RuntimeError, and the next use tries again). Only within a Work whose inline_only() is false.
oneapi::tbb::task_arena& arena();

// The configured thread count (creates the pool).
size_t thread_count();

// The thread count given by a variable's text, if it is a decimal integer with an optional
// leading "+"; 0 stands for `processors`, and counts above kMaxThreads are kMaxThreads.
std::optional<size_t> parse_thread_count(std::string_view text, size_t processors);

// body(i) for every i in [0, n), on the pool.
template <class Body>
void parallel_for(size_t n, Body&& body) {
    Work work;
    if (work.inline_only()) {
        for (size_t i = 0; i < n; ++i)
            body(i);
        return;
    }
    arena().execute([&] {
        oneapi::tbb::parallel_for(oneapi::tbb::blocked_range<size_t>(0, n),
                                  [&](const oneapi::tbb::blocked_range<size_t>& range) {
                                      for (size_t i = range.begin(); i != range.end(); ++i) {
                                          body(i);
                                      }
                                  });
    });
}

// [map(0), map(1), ...] in input order.
template <class T, class Map>
std::vector<T> parallel_map(size_t n, Map&& map) {
    std::vector<std::optional<T>> slots(n);
    parallel_for(n, [&](size_t i) { slots[i].emplace(map(i)); });
    std::vector<T> results;
    results.reserve(n);
    for (auto& slot : slots)
        results.push_back(std::move(*slot));
    return results;
}

namespace detail {

// The pool's deterministic reduction on one thread: a range larger than the grain splits at its
// middle, each piece is folded and combined into the identity, and neighbours combine left
// before right, exactly as oneTBB's parallel_deterministic_reduce does it.
template <class Acc, class Piece, class Combine>
Acc reduce_here(size_t begin, size_t end, const Acc& identity, Piece& piece, Combine& combine,
                size_t grain) {
    if (grain < end - begin) {
        const size_t middle = begin + (end - begin) / 2;
        Acc left = reduce_here(begin, middle, identity, piece, combine, grain);
        Acc right = reduce_here(middle, end, identity, piece, combine, grain);
        return combine(std::move(left), std::move(right));
    }
    Acc acc = identity;
    return combine(acc, piece(begin, end));
}

}  // namespace detail

// Splits [0, n) into contiguous pieces of at most `grain` indices, folds each at once with
// piece(begin, end), which returns its accumulator, and combines neighbours with
// combine(left, right). The pieces and the order of combining depend only on n, never on the
// thread count, so the result is the same on every run.
template <class Acc, class Piece, class Combine>
Acc parallel_reduce(size_t n, const Acc& identity, Piece&& piece, Combine&& combine,
                    size_t grain = 4096) {
    Work work;
    if (work.inline_only()) {
        if (n == 0) return identity;
        return detail::reduce_here(0, n, identity, piece, combine, grain);
    }
    return arena().execute([&] {
        return oneapi::tbb::parallel_deterministic_reduce(
            oneapi::tbb::blocked_range<size_t>(0, n, grain), identity,
            [&](const oneapi::tbb::blocked_range<size_t>& range, Acc acc) {
                return combine(acc, piece(range.begin(), range.end()));
            },
            combine);
    });
}

// Unstable parallel sort.
template <class T, class Less>
void parallel_sort(std::vector<T>& items, Less&& less) {
    Work work;
    if (work.inline_only()) {
        std::sort(items.begin(), items.end(), less);
        return;
    }
    arena().execute([&] { oneapi::tbb::parallel_sort(items.begin(), items.end(), less); });
}

}  // namespace sorvel::frame::pool
