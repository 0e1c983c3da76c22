// The process-wide worker pool: one work-stealing arena, created on first parallel use and never
// shut down. Its size is read once from RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS, else the
// processors this process may run on. A fault thrown on a worker is carried back to the thread
// that started the work and rethrown there.
#pragma once

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace sorvel::frame::pool {

// The arena all parallel work runs in.
oneapi::tbb::task_arena& arena();

// The configured thread count (creates the pool).
size_t thread_count();

// The thread count given by a variable's text, if it is a decimal integer with an optional
// leading "+"; 0 stands for `processors`.
std::optional<size_t> parse_thread_count(std::string_view text, size_t processors);

// body(i) for every i in [0, n), on the pool.
template <class Body>
void parallel_for(size_t n, Body&& body) {
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

// Splits [0, n) into contiguous pieces of at most `grain` indices, folds each at once with
// piece(begin, end), which returns its accumulator, and combines neighbours with
// combine(left, right). The pieces and the order of combining depend only on n, never on the
// thread count, so the result is the same on every run.
template <class Acc, class Piece, class Combine>
Acc parallel_reduce(size_t n, const Acc& identity, Piece&& piece, Combine&& combine,
                    size_t grain = 4096) {
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
    arena().execute([&] { oneapi::tbb::parallel_sort(items.begin(), items.end(), less); });
}

}  // namespace sorvel::frame::pool
