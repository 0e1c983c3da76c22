#include "serializer/instance_storage.hpp"

#include "frame/convert.hpp"
#include "frame/once.hpp"
#include "serializer/failure.hpp"

namespace sorvel::serializer {

using frame::Ref;

namespace {

template <const char* Text>
PyObject* interned() {
    static frame::Once<PyObject*> cell;
    return cell.get([] { return frame::must(PyUnicode_InternFromString(Text)); });
}

constexpr char kState[] = "_state";
constexpr char kFieldsCache[] = "fields_cache";
constexpr char kPrefetched[] = "_prefetched_objects_cache";
constexpr char kResultCache[] = "_result_cache";

constexpr const char* kDeferred =
    "was not loaded (a deferred field): select it in the query, or leave it out";
constexpr const char* kNotSelected = "is not loaded: use select_related() for it, or leave it out";
constexpr const char* kNotPrefetched =
    "is not loaded: use prefetch_related() for it, or leave it out";

// dict[key] as a new reference, or null when absent.
Ref dict_item(PyObject* dict, PyObject* key) {
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(dict, key, &found) < 0) fail_fetched();
    return Ref::steal(found);
}

Stored related_one(const Column& column, PyObject* dict) {
    if (column.extra2) {
        Ref id = dict_item(dict, column.extra2.get());
        if (!id) return {{}, kDeferred};
        if (id.get() == Py_None) return {std::move(id), nullptr};
    }
    Ref state = dict_item(dict, interned<kState>());
    if (!state) return {{}, kNotSelected};
    Ref cache = Ref::steal(PyObject_GetAttr(state.get(), interned<kFieldsCache>()));
    if (!cache) fail_fetched();
    if (!PyDict_Check(cache.get())) return {{}, kNotSelected};
    Ref related = dict_item(cache.get(), column.source.get());
    if (!related) return {{}, kNotSelected};
    return {std::move(related), nullptr};
}

Stored related_many(const Column& column, PyObject* dict) {
    if (column.flags & kToAttr) {
        Ref list = dict_item(dict, column.source.get());
        if (!list) return {{}, kNotPrefetched};
        return {std::move(list), nullptr};
    }
    Ref caches = dict_item(dict, interned<kPrefetched>());
    if (!caches || !PyDict_Check(caches.get())) return {{}, kNotPrefetched};
    Ref entry = dict_item(caches.get(), column.source.get());
    if (!entry) return {{}, kNotPrefetched};
    if (PyList_Check(entry.get()) || PyTuple_Check(entry.get())) return {std::move(entry), nullptr};
    // A QuerySet: what the prefetch put into its result cache, never a new evaluation.
    Ref items = Ref::steal(PyObject_GetAttr(entry.get(), interned<kResultCache>()));
    if (!items) fail_fetched();
    if (!PyList_Check(items.get())) return {{}, kNotPrefetched};
    return {std::move(items), nullptr};
}

// dict[key] through the position hint: the entry at the hinted position when its key is this
// very (interned) object, else a lookup that also finds the position for the next instance.
Ref hinted_item(PyObject* dict, PyObject* key, std::atomic<Py_ssize_t>& hint) {
    Py_ssize_t position = hint.load(std::memory_order_relaxed);
    PyObject* found_key;
    PyObject* found_value;
    if (position >= 0 && PyDict_Next(dict, &position, &found_key, &found_value) &&
        found_key == key) {
        return Ref::borrow(found_value);
    }
    Ref value = dict_item(dict, key);
    if (value) {
        Py_ssize_t scan = 0;
        Py_ssize_t before = 0;
        while (PyDict_Next(dict, &scan, &found_key, &found_value)) {
            if (found_key == key) {
                hint.store(before, std::memory_order_relaxed);
                break;
            }
            before = scan;
        }
    }
    return value;
}

}  // namespace

Ref instance_dict(PyObject* instance, const Plan& plan) {
    if (!PyObject_TypeCheck(instance, reinterpret_cast<PyTypeObject*>(plan.model.get()))) {
        Ref name = Ref::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(plan.model.get())));
        std::string expected = name ? std::string(frame::as_text(name.get())) : "model";
        fail("expected a " + expected + " instance, got " + type_name(instance));
    }
    Ref dict = Ref::steal(PyObject_GenericGetDict(instance, nullptr));
    if (!dict) fail_fetched();
    return dict;
}

Stored read_column(const Column& column, PyObject* instance, PyObject* dict,
                   std::atomic<Py_ssize_t>& hint) {
    switch (column.kind) {
        case Kind::Attribute: {
            Ref value = Ref::steal(PyObject_GetAttr(instance, column.source.get()));
            if (!value) fail_fetched();
            return {std::move(value), nullptr};
        }
        case Kind::Call: {
            Ref value = Ref::steal(PyObject_CallOneArg(column.extra.get(), instance));
            if (!value) fail_fetched();
            return {std::move(value), nullptr};
        }
        case Kind::Related:
            return related_one(column, dict);
        case Kind::Many:
        case Kind::Pks:
            return related_many(column, dict);
        default: {
            Ref value = hinted_item(dict, column.source.get(), hint);
            if (!value) return {{}, kDeferred};
            return {std::move(value), nullptr};
        }
    }
}

void fail_missing(const Column& column, const char* missing) {
    fail(std::string(column.kind == Kind::Related || column.kind == Kind::Many ||
                             column.kind == Kind::Pks
                         ? "the relation "
                         : "the field ") +
         missing);
}

Ref related_pk(const Column& column, PyObject* related) {
    Ref dict = Ref::steal(PyObject_GenericGetDict(related, nullptr));
    if (!dict) fail_fetched();
    Ref pk = dict_item(dict.get(), column.extra.get());
    if (!pk)
        fail(std::string("the primary key of a related ") + type_name(related) + " " + kDeferred);
    return pk;
}

}  // namespace sorvel::serializer
