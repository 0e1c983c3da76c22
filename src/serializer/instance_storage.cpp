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

constexpr const char* kNotSelected = "is not loaded: use select_related() for it, or leave it out";
constexpr const char* kNotPrefetched =
    "is not loaded: use prefetch_related() for it, or leave it out";

// dict[key] as a new reference, or null when absent.
Ref dict_item(PyObject* dict, PyObject* key) {
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(dict, key, &found) < 0) fail_fetched();
    return Ref::steal(found);
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

// Where `names` holds `name`, added if it is not there yet.
uint32_t name_index(std::vector<PyObject*>& names, PyObject* name) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return uint32_t(i);
    }
    names.push_back(name);
    return uint32_t(names.size() - 1);
}

bool reads_stored_value(Kind kind) { return kind < Kind::Attribute; }

}  // namespace

void prepare_storage(Plan& plan) {
    for (Column& column : plan.columns) {
        if (reads_stored_value(column.kind) ||
            ((column.kind == Kind::Many || column.kind == Kind::Pks) && (column.flags & kToAttr))) {
            column.source_name = name_index(plan.names, column.source.get());
        }
        if (column.kind == Kind::Related) {
            if (column.extra2) column.extra2_name = name_index(plan.names, column.extra2.get());
            plan.state_name = name_index(plan.names, interned<kState>());
        }
        if ((column.kind == Kind::Many || column.kind == Kind::Pks) && !(column.flags & kToAttr))
            plan.prefetched_name = name_index(plan.names, interned<kPrefetched>());
    }
#ifndef Py_GIL_DISABLED
    // Without the interpreter lock nothing would keep two threads from teaching the reader
    // different classes at once; there, every read takes the __dict__.
    if (!plan.names.empty()) plan.values = std::make_unique<frame::InstanceValues>(plan.names);
#endif
}

InstanceStorage::InstanceStorage(PyObject* instance, const Plan& plan)
    : instance_(instance), plan_(plan) {
    if (!PyObject_TypeCheck(instance, reinterpret_cast<PyTypeObject*>(plan.model.get()))) {
        Ref name = Ref::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(plan.model.get())));
        std::string expected = name ? std::string(frame::as_text(name.get())) : "model";
        fail("expected a " + expected + " instance, got " + type_name(instance));
    }
    if (plan.names.empty()) return;
    // An instance whose values are not inline is read through its __dict__, made now as the
    // row starts, before any column.
    PyObject* value = nullptr;
    if (!plan.values ||
        plan.values->read(instance, 0, value) == frame::InstanceValues::Answer::Unknown) {
        dict();
        return;
    }
    inline_ = plan.values->all_inline(instance);
}

PyObject* InstanceStorage::dict() {
    if (!dict_) {
        dict_ = Ref::steal(PyObject_GenericGetDict(instance_, nullptr));
        if (!dict_) fail_fetched();
    }
    return dict_.get();
}

Ref InstanceStorage::item(uint32_t name, std::atomic<Py_ssize_t>* hint) {
    // Once a row has taken the __dict__ it keeps reading that one.
    if (plan_.values && !dict_) {
        PyObject* value = nullptr;
        switch (plan_.values->read(instance_, name, value)) {
            case frame::InstanceValues::Answer::Found:
                return Ref::borrow(value);
            case frame::InstanceValues::Answer::Absent:
                return Ref();
            case frame::InstanceValues::Answer::Unknown:
                break;
        }
    }
    PyObject* key = plan_.names[name];
    return hint != nullptr ? hinted_item(dict(), key, *hint) : dict_item(dict(), key);
}

Stored InstanceStorage::related_one(const Column& column) {
    if (column.extra2) {
        Ref id = item(column.extra2_name, nullptr);
        if (!id) return {{}, kDeferred};
        if (id.get() == Py_None) return {std::move(id), nullptr};
    }
    Ref state = item(plan_.state_name, nullptr);
    if (!state) return {{}, kNotSelected};
    Ref cache = Ref::steal(PyObject_GetAttr(state.get(), interned<kFieldsCache>()));
    if (!cache) fail_fetched();
    if (!PyDict_Check(cache.get())) return {{}, kNotSelected};
    Ref related = dict_item(cache.get(), column.source.get());
    if (!related) return {{}, kNotSelected};
    return {std::move(related), nullptr};
}

Stored InstanceStorage::related_many(const Column& column) {
    if (column.flags & kToAttr) {
        Ref list = item(column.source_name, nullptr);
        if (!list) return {{}, kNotPrefetched};
        return {std::move(list), nullptr};
    }
    Ref caches = item(plan_.prefetched_name, nullptr);
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

const char* const InstanceStorage::kDeferred =
    "was not loaded (a deferred field): select it in the query, or leave it out";

Stored InstanceStorage::read_any(const Column& column, size_t column_index) {
    switch (column.kind) {
        case Kind::Attribute: {
            Ref value = Ref::steal(PyObject_GetAttr(instance_, column.source.get()));
            if (!value) fail_fetched();
            return {std::move(value), nullptr};
        }
        case Kind::Call: {
            Ref value = Ref::steal(PyObject_CallOneArg(column.extra.get(), instance_));
            if (!value) fail_fetched();
            return {std::move(value), nullptr};
        }
        case Kind::Related:
            return related_one(column);
        case Kind::Many:
        case Kind::Pks:
            return related_many(column);
        default: {
            Ref value = item(column.source_name, &plan_.hints[column_index]);
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
    if (!pk) {
        fail(std::string("the primary key of a related ") + type_name(related) + " " +
             InstanceStorage::kDeferred);
    }
    return pk;
}

}  // namespace sorvel::serializer
