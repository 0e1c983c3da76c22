// batch_stats: count, mean, median, population standard deviation, minimum and maximum of a
// list of numbers, computed on the worker pool with the interpreter lock released.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "frame/interned.hpp"
#include "frame/native_class.hpp"
#include "frame/pool.hpp"
#include "native/functions.hpp"

namespace sorvel::native {
namespace {

using frame::Ref;

// One pass gives everything but the median. The spread is kept as the sum of squared deviations
// from each piece's own mean (merged pairwise), which stays exact where sum-of-squares minus
// squared mean would cancel every significant digit for values far from zero.
struct Moments {
    double sum = 0.0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    double count = 0.0;
    double mean = 0.0;
    double squared_deviations = 0.0;
    bool has_nan = false;

    // A piece in one pass. The spread is summed as deviations from the piece's first value,
    // which lies within the spread of the piece, so no value needs a division, the subtraction
    // at the end cancels nothing that matters, and constant values give exactly zero.
    static Moments of(const double* values, size_t n) {
        Moments m;
        if (n == 0) return m;
        const double pivot = values[0];
        double sum = 0.0, shifted = 0.0, squared = 0.0, min = m.min, max = m.max;
        bool has_nan = false;
        for (size_t i = 0; i < n; ++i) {
            const double v = values[i];
            sum += v;
            const double d = v - pivot;
            shifted += d;
            squared += d * d;
            // A NaN never becomes the minimum or maximum: comparisons with it are false.
            min = v < min ? v : min;
            max = v > max ? v : max;
            has_nan |= v != v;
        }
        m.sum = sum;
        m.min = min;
        m.max = max;
        m.has_nan = has_nan;
        m.count = double(n);
        m.mean = pivot + shifted / m.count;
        m.squared_deviations = std::max(squared - shifted * (shifted / m.count), 0.0);
        return m;
    }

    static Moments combine(const Moments& a, const Moments& b) {
        if (a.count == 0.0) return b;
        if (b.count == 0.0) return a;
        Moments m;
        m.sum = a.sum + b.sum;
        m.min = std::min(a.min, b.min);  // never NaN: see `of`
        m.max = std::max(a.max, b.max);
        m.has_nan = a.has_nan || b.has_nan;
        m.count = a.count + b.count;
        const double delta = b.mean - a.mean;
        m.mean = a.mean + delta * (b.count / m.count);
        m.squared_deviations = a.squared_deviations + b.squared_deviations +
                               delta * delta * (a.count * b.count / m.count);
        return m;
    }
};

// The values of ranks `low` and `high` (low <= high, at most one apart) in ascending order,
// found by selection; `values` is reordered.
std::pair<double, double> select_pair(double* values, size_t n, size_t low, size_t high) {
    double* at_high = values + high;
    std::nth_element(values, at_high, values + n);
    const double upper = *at_high;
    const double lower = low == high ? upper : *std::max_element(values, at_high);
    return {lower, upper};
}

// Large inputs: a sorted sample of evenly spaced values gives two bounds that very probably
// enclose the wanted ranks; one pass counts the values below the band and copies the few inside
// it, and the selection runs on those. When the band misses a rank (an unlucky sample), the
// plain selection over everything gives the answer. Either way the result is exact.
constexpr size_t kSampledSelection = 1 << 15;
constexpr size_t kSample = 4096;
constexpr size_t kMargin = 160;  // ranks of the sample on each side: about five deviations

std::pair<double, double> select_ranks(double* values, size_t n, size_t low, size_t high) {
    if (n < kSampledSelection) return select_pair(values, n, low, high);
    std::vector<double> sample(kSample);
    for (size_t i = 0; i < kSample; ++i)
        sample[i] = values[i * (n / kSample) + (n / kSample) / 2];
    std::sort(sample.begin(), sample.end());
    const size_t centre = size_t(double(low) / double(n) * double(kSample));
    const double floor = sample[centre > kMargin ? centre - kMargin : 0];
    const double ceiling = sample[std::min(centre + kMargin, kSample - 1)];
    // Many equal values can crowd the band; past this size the plain selection is cheaper.
    const size_t band_limit = n / 8;
    std::vector<double> band;
    band.reserve(band_limit);
    size_t below = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = values[i];
        below += v < floor;
        if (v >= floor && v <= ceiling) [[unlikely]] {
            if (band.size() == band_limit) return select_pair(values, n, low, high);
            band.push_back(v);
        }
    }
    if (low < below || high >= below + band.size()) return select_pair(values, n, low, high);
    return select_pair(band.data(), band.size(), low - below, high - below);
}

// Middle of the values: the element at n / 2 of the ascending order, or for an even count the
// mean of it and its lower neighbour. A list holding a NaN has no order, so its median is NaN
// (as its mean).
double median(double* values, size_t n, bool has_nan) {
    if (has_nan) return std::numeric_limits<double>::quiet_NaN();
    if (n % 2 == 1) return select_ranks(values, n, n / 2, n / 2).first;
    const auto [lower, upper] = select_ranks(values, n, n / 2 - 1, n / 2);
    return (lower + upper) * 0.5;
}

// The items in list order as doubles. Exact floats are read without a call and need no
// reference of their own: no Python code runs until an item of another type is met, and that
// item is held while its conversion runs (which may shrink the list).
size_t read_values(PyObject* list, double* out) {
    const Py_ssize_t start_length = PyList_GET_SIZE(list);
    Py_ssize_t i = 0;
    for (; i < start_length && i < PyList_GET_SIZE(list); ++i) {
        PyObject* item = PyList_GET_ITEM(list, i);
        if (PyFloat_CheckExact(item)) {
            out[i] = PyFloat_AS_DOUBLE(item);
        } else if (PyLong_CheckExact(item)) {
            // What int.__float__ gives, including its OverflowError.
            const double value = PyLong_AsDouble(item);
            if (value == -1.0 && PyErr_Occurred() != nullptr) frame::throw_fetched();
            out[i] = value;
        } else {
            Ref held = Ref::borrow(item);
            out[i] = frame::as_double(held.get());
        }
    }
    return size_t(i);
}

frame::Once<PyObject*> mean_key, median_key, stdev_key, min_key, max_key, count_key;

void set(PyObject* dict, frame::Once<PyObject*>& key, const char* text, Ref value) {
    frame::dict_set(dict, frame::interned::get(key, text), value.get());
}

Ref batch_stats(PyObject*, PyObject* const* slots) {
    PyObject* list = frame::parameter("values", [&] { return frame::as_list(slots[0]); });
    const auto storage = std::make_unique_for_overwrite<double[]>(size_t(PyList_GET_SIZE(list)));
    double* values = storage.get();
    const size_t n = read_values(list, values);

    Ref result = frame::new_dict();
    if (n == 0) {
        set(result.get(), count_key, "count", frame::new_size(0));
        return result;
    }
    double mid = 0.0;
    const Moments moments = frame::detach([&] {
        const Moments m = frame::pool::parallel_reduce(
            n, Moments{},
            [&](size_t begin, size_t end) { return Moments::of(values + begin, end - begin); },
            Moments::combine);
        mid = median(values, n, m.has_nan);
        return m;
    });
    const double variance = moments.squared_deviations / moments.count;
    const double stdev = (std::isnan(variance) || variance < 0.0) ? 0.0 : std::sqrt(variance);

    set(result.get(), mean_key, "mean", frame::new_float(moments.sum / moments.count));
    set(result.get(), median_key, "median", frame::new_float(mid));
    set(result.get(), stdev_key, "stdev", frame::new_float(stdev));
    set(result.get(), min_key, "min", frame::new_float(moments.min));
    set(result.get(), max_key, "max", frame::new_float(moments.max));
    set(result.get(), count_key, "count", frame::new_size(Py_ssize_t(n)));
    return result;
}

constexpr const char* kParameters[] = {"values"};
constexpr frame::ArgumentSpec kSpec{"batch_stats", nullptr, kParameters, 0, 1, {}};

}  // namespace

PyMethodDef batch_stats_def = {
    "batch_stats", frame::as_cfunction<frame::fastcall<kSpec, batch_stats>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "batch_stats(values)\n--\n\nComputes batch statistics (mean, median, stdev, min, max) "
    "natively.\n\nPython's `statistics` module is pure Python and slow for large lists. A single\n"
    "parallel pass computes the sum and the sum of squared deviations, followed by a\n"
    "selection of the middle values for the median.\n\nReturns a dict with mean, median, stdev, "
    "min, max, count."};

}  // namespace sorvel::native
