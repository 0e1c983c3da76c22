// batch_stats: count, mean, median, population standard deviation, minimum and maximum of a
// list of numbers, computed on the worker pool with the interpreter lock released.
#include <cmath>
#include <limits>

#include "frame/list_walk.hpp"
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

    void add(double v) {
        sum += v;
        // A NaN never becomes the minimum or maximum: comparisons with it are false.
        if (std::isnan(min) || v < min) min = v;
        if (std::isnan(max) || v > max) max = v;
        has_nan |= std::isnan(v);
        count += 1.0;
        const double delta = v - mean;
        mean += delta / count;
        squared_deviations += delta * (v - mean);
    }

    static Moments combine(const Moments& a, const Moments& b) {
        if (a.count == 0.0) return b;
        if (b.count == 0.0) return a;
        Moments m;
        m.sum = a.sum + b.sum;
        m.min = std::isnan(a.min) ? b.min : std::isnan(b.min) ? a.min : std::min(a.min, b.min);
        m.max = std::isnan(a.max) ? b.max : std::isnan(b.max) ? a.max : std::max(a.max, b.max);
        m.has_nan = a.has_nan || b.has_nan;
        m.count = a.count + b.count;
        const double delta = b.mean - a.mean;
        m.mean = a.mean + delta * (b.count / m.count);
        m.squared_deviations = a.squared_deviations + b.squared_deviations +
                               delta * delta * (a.count * b.count / m.count);
        return m;
    }
};

// Middle of the values; a list holding a NaN has no order, so its median is NaN (as its mean).
double median(std::vector<double>& values, bool has_nan) {
    if (has_nan) return std::numeric_limits<double>::quiet_NaN();
    frame::detach([&] { frame::pool::parallel_sort(values, std::less<double>()); });
    const size_t n = values.size();
    if (n % 2 == 1) return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) * 0.5;
}

Ref batch_stats(PyObject*, PyObject* const* slots) {
    PyObject* list = frame::parameter("values", [&] { return frame::as_list(slots[0]); });
    std::vector<double> values;
    values.reserve(size_t(PyList_GET_SIZE(list)));
    frame::walk_list(list, [&](PyObject* item) { values.push_back(frame::as_double(item)); });

    const Py_ssize_t count = Py_ssize_t(values.size());
    Ref result = frame::new_dict();
    auto set = [&](const char* key, Ref value) {
        frame::dict_set(result.get(), frame::new_str(key).get(), value.get());
    };
    if (values.empty()) {
        set("count", frame::new_size(0));
        return result;
    }
    const Moments moments = frame::detach([&] {
        return frame::pool::parallel_reduce(
            values.size(), Moments{}, [&](Moments& acc, size_t i) { acc.add(values[i]); },
            Moments::combine);
    });
    const double mid = median(values, moments.has_nan);
    const double variance = moments.squared_deviations / moments.count;
    const double stdev = (std::isnan(variance) || variance < 0.0) ? 0.0 : std::sqrt(variance);

    set("mean", frame::new_float(moments.sum / moments.count));
    set("median", frame::new_float(mid));
    set("stdev", frame::new_float(stdev));
    set("min", frame::new_float(moments.min));
    set("max", frame::new_float(moments.max));
    set("count", frame::new_size(count));
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
    "parallel sort for the median.\n\nReturns a dict with mean, median, stdev, min, max, "
    "count."};

}  // namespace sorvel::native
