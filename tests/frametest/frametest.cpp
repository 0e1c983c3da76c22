// A module built only for the test run. It links the frame alone and exposes what the public
// modules cannot show: faults on the calling thread and on pool workers, work under detach,
// deferred releases, the pool's size, and argument extraction with every parameter kind.
#include <chrono>
#include <new>
#include <thread>

#include "frame/attach.hpp"
#include "frame/module.hpp"
#include "frame/module_def.hpp"
#include "frame/native_class.hpp"
#include "frame/pool.hpp"

namespace {

using namespace sorvel::frame;

Ref fault_here(PyObject*, PyObject* const* slots) {
    fault(slots[0] != nullptr ? std::string(as_text(slots[0])) : std::string());
}

Ref fault_on_worker(PyObject*, PyObject* const*) {
    detach([] {
        pool::parallel_for(64, [](size_t i) {
            if (i == 37) fault("fault on a worker");
        });
    });
    return new_none();
}

Ref fail_allocation(PyObject*) { throw std::bad_alloc(); }

Ref pool_size(PyObject*) { return new_size(Py_ssize_t(pool::thread_count())); }

// Sleeps without the interpreter lock, so other Python threads can run meanwhile.
Ref sleep_detached(PyObject*, PyObject* const* slots) {
    const double seconds = as_double(slots[0]);
    detach([seconds] { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); });
    return new_none();
}

// Sleeps on two pool workers at once, without the interpreter lock: pooled work in flight for
// as long as the test needs (a fork meanwhile must wait for it or leave the child a usable road).
Ref sleep_pooled(PyObject*, PyObject* const* slots) {
    const double seconds = as_double(slots[0]);
    detach([seconds] {
        pool::parallel_for(2, [seconds](size_t) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        });
    });
    return new_none();
}

// Drops a reference while detached (on this thread, or on a pool worker): it must be queued
// and released once the lock is back, not leaked and not released without the lock.
Ref release_detached(PyObject*, PyObject* const* slots) {
    Ref held = Ref::borrow(slots[0]);
    const bool on_worker = slots[1] != nullptr && as_bool(slots[1]);
    detach([&] {
        if (on_worker) {
            pool::parallel_for(1, [&](size_t) { held = Ref(); });
        } else {
            held = Ref();
        }
    });
    return new_none();
}

// Calls `callable`; its exception is passed on (a PanicException resumes the fault).
Ref call(PyObject*, PyObject* const* slots) {
    Ref result = Ref::steal(PyObject_CallNoArgs(slots[0]));
    if (!result) throw_fetched();
    return result;
}

// Calls `callable` and ignores its exception, as the lenient reading rules do.
Ref call_discarding(PyObject*, PyObject* const* slots) {
    Ref result = Ref::steal(PyObject_CallNoArgs(slots[0]));
    if (!result) discard_error();
    return new_none();
}

Ref raise_non_exception(PyObject*) {
    throw PythonError(reinterpret_cast<PyObject*>(&PyLong_Type), "not an exception class");
}

Ref fetch_nothing(PyObject*) { throw PythonError::fetch(); }

Ref text_of_object(PyObject*, PyObject* const* slots) { return new_str(object_text(slots[0])); }

Ref text_of_error(PyObject*, PyObject* const* slots) {
    Ref result = Ref::steal(PyObject_CallNoArgs(slots[0]));
    if (result) return new_none();
    PythonError error = PythonError::fetch();
    return new_str(error_text(error));
}

// probe(a, /, b, c=None, *, d, e=None): answers what it received.
Ref probe(PyObject*, PyObject* const* slots) {
    Ref result = new_list(5);
    for (Py_ssize_t i = 0; i < 5; ++i) {
        PyObject* value = slots[i] != nullptr ? slots[i] : Py_None;
        PyList_SET_ITEM(result.get(), i, Ref::borrow(value).release());
    }
    return result;
}

Ref as_u32_probe(PyObject*, PyObject* const* slots) {
    return new_uint(parameter("value", [&] { return as_u32(slots[0]); }));
}

Ref as_bytes_probe(PyObject*, PyObject* const* slots) {
    auto items = parameter("value", [&] {
        return as_vector<int64_t>(slots[0], [](PyObject* item) { return as_i64(item); });
    });
    return new_size(Py_ssize_t(items.size()));
}

constexpr const char* kOne[] = {"value"};
constexpr const char* kTwo[] = {"value", "on_worker"};
constexpr const char* kProbe[] = {"a", "b", "c"};
constexpr KeywordParameter kProbeKeywords[] = {{"d", true}, {"e", false}};
constexpr ArgumentSpec kFaultSpec{"fault_here", nullptr, kOne, 0, 0, {}};
constexpr ArgumentSpec kWorkerSpec{"fault_on_worker", nullptr, {}, 0, 0, {}};
constexpr ArgumentSpec kSleepSpec{"sleep_detached", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kPooledSleepSpec{"sleep_pooled", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kReleaseSpec{"release_detached", nullptr, kTwo, 0, 1, {}};
constexpr ArgumentSpec kCallSpec{"call", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kDiscardSpec{"call_discarding", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kObjectSpec{"object_text", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kErrorSpec{"error_text", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kProbeSpec{"probe", nullptr, kProbe, 1, 2, kProbeKeywords};
constexpr ArgumentSpec kU32Spec{"as_u32", nullptr, kOne, 0, 1, {}};
constexpr ArgumentSpec kBytesSpec{"as_vector", nullptr, kOne, 0, 1, {}};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kDefs[] = {
    {"fault_here", as_cfunction<fastcall<kFaultSpec, fault_here>>(), kFast, nullptr},
    {"fault_on_worker", as_cfunction<fastcall<kWorkerSpec, fault_on_worker>>(), kFast, nullptr},
    {"fail_allocation", &noargs<fail_allocation>, METH_NOARGS, nullptr},
    {"pool_size", &noargs<pool_size>, METH_NOARGS, nullptr},
    {"sleep_detached", as_cfunction<fastcall<kSleepSpec, sleep_detached>>(), kFast, nullptr},
    {"release_detached", as_cfunction<fastcall<kReleaseSpec, release_detached>>(), kFast, nullptr},
    {"call", as_cfunction<fastcall<kCallSpec, call>>(), kFast, nullptr},
    {"call_discarding", as_cfunction<fastcall<kDiscardSpec, call_discarding>>(), kFast, nullptr},
    {"raise_non_exception", &noargs<raise_non_exception>, METH_NOARGS, nullptr},
    {"fetch_nothing", &noargs<fetch_nothing>, METH_NOARGS, nullptr},
    {"object_text", as_cfunction<fastcall<kObjectSpec, text_of_object>>(), kFast, nullptr},
    {"error_text", as_cfunction<fastcall<kErrorSpec, text_of_error>>(), kFast, nullptr},
    {"probe", as_cfunction<fastcall<kProbeSpec, probe>>(), kFast,
     "probe(a, /, b, c=None, *, d, e=None)\n--\n\n"},
    {"as_u32", as_cfunction<fastcall<kU32Spec, as_u32_probe>>(), kFast, nullptr},
    {"as_vector", as_cfunction<fastcall<kBytesSpec, as_bytes_probe>>(), kFast, nullptr},
    {"sleep_pooled", as_cfunction<fastcall<kPooledSleepSpec, sleep_pooled>>(), kFast, nullptr},
};

PyMethodDef* const kFunctions[] = {
    &kDefs[0], &kDefs[1], &kDefs[2],  &kDefs[3],  &kDefs[4],  &kDefs[5],  &kDefs[6],  &kDefs[7],
    &kDefs[8], &kDefs[9], &kDefs[10], &kDefs[11], &kDefs[12], &kDefs[13], &kDefs[14], &kDefs[15]};

int exec(PyObject* module) { return exec_module(module, {{}, kFunctions}); }

ModuleDefinition module_definition("_frametest", exec);

}  // namespace

SORVEL_EXPORT PyObject* PyInit__frametest() {
    return PyModuleDef_Init(&module_definition.definition);
}
