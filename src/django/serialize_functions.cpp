// serialize_instance, serialize_batch, serialize_values_list and serialize_fields: Django data
// to JSON-compatible dicts.
#include "django/django_error.hpp"
#include "django/functions.hpp"
#include "django/model_fields.hpp"
#include "django/model_schema.hpp"
#include "django/record_writer.hpp"
#include "django/value_reader.hpp"
#include "frame/list_walk.hpp"
#include "frame/native_class.hpp"

namespace sorvel::django {
namespace {

using frame::Ref;

Ref serialize_one_instance(PyObject* instance, std::span<const DjangoFieldDescriptor> descriptors,
                           RecordWriter& writer) {
    writer.begin();
    frame::AttributeReader::Row row = writer.row(instance);
    for (size_t i = 0; i < descriptors.size(); ++i) {
        // The usual value, read borrowed and passing through, runs no Python code; anything
        // else is held, and may run Python code that changes the instance: later fields are
        // read afresh.
        PyObject* found = row.get(i);
        if (found != nullptr && found != Py_None && writer.put_passing(i, found)) continue;
        Ref value = found != nullptr ? Ref::borrow(found) : writer.attribute(instance, i);
        if (!value) {
            frame::discard_error();
            writer.put_missing(i, descriptors[i]);
        } else {
            writer.put(i, value.get(), descriptors[i]);
        }
        row = writer.row(instance);
    }
    return writer.finish();
}

Ref serialize_instance(PyObject*, PyObject* const* slots) {
    const auto& schema = *frame::parameter("schema", [&] { return &as_model_schema(slots[1]); });
    RecordWriter writer(schema.core);
    writer.prefetch(slots[0]);
    return serialize_one_instance(slots[0], schema.descriptors, writer);
}

Ref serialize_batch(PyObject*, PyObject* const* slots) {
    PyObject* instances = frame::parameter("instances", [&] { return frame::as_list(slots[0]); });
    const auto& schema = *frame::parameter("schema", [&] { return &as_model_schema(slots[1]); });
    RecordWriter writer(schema.core);
    Ref result = frame::new_list();
    frame::walk_list_ahead(
        instances,
        [&](PyObject* instance) {
            frame::list_append(result.get(),
                               serialize_one_instance(instance, schema.descriptors, writer).get());
        },
        [&](PyObject* next) { writer.prefetch(next); }, frame::prefetch_object);
    return result;
}

Ref serialize_values_list(PyObject*, PyObject* const* slots) {
    PyObject* rows = frame::parameter("rows", [&] { return frame::as_list(slots[0]); });
    const auto& schema = *frame::parameter("schema", [&] { return &as_model_schema(slots[1]); });
    const auto& descriptors = schema.descriptors;
    RecordWriter writer(schema.core);
    std::vector<Ref> indices;
    indices.reserve(descriptors.size());
    for (size_t i = 0; i < descriptors.size(); ++i)
        indices.push_back(frame::new_size(Py_ssize_t(i)));
    Ref result = frame::new_list();
    frame::walk_list_ahead(
        rows,
        [&](PyObject* row) {
            // Rows of values_list() are tuples (named rows are tuple subclasses); while indexing
            // is the tuple's own, a cell is read without making an index object, and borrowed:
            // the row holds it whatever Python code runs.
            const bool tuple_indexing = PyTuple_Check(row) &&
                                        Py_TYPE(row)->tp_as_mapping != nullptr &&
                                        Py_TYPE(row)->tp_as_mapping->mp_subscript ==
                                            PyTuple_Type.tp_as_mapping->mp_subscript;
            writer.begin();
            for (size_t i = 0; i < descriptors.size(); ++i) {
                Ref held;
                PyObject* cell = nullptr;
                if (tuple_indexing) {
                    // Past a short row's end the cell is missing, as row[i] failing makes it.
                    if (Py_ssize_t(i) < PyTuple_GET_SIZE(row)) cell = PyTuple_GET_ITEM(row, i);
                } else {
                    held = Ref::steal(PyObject_GetItem(row, indices[i].get()));
                    if (!held) frame::discard_error();  // a short row: the cell is missing
                    cell = held.get();
                }
                if (cell == nullptr || cell == Py_None) {
                    writer.put_missing(i, descriptors[i]);
                } else {
                    writer.put(i, cell, descriptors[i]);
                }
            }
            frame::list_append(result.get(), writer.finish().get());
        },
        [](PyObject* next) {
            if (!PyTuple_Check(next)) return;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(next); ++i)
                __builtin_prefetch(PyTuple_GET_ITEM(next, i));
        },
        frame::prefetch_object);
    return result;
}

Ref serialize_fields(PyObject*, PyObject* const* slots) {
    PyObject* list =
        frame::parameter("field_descriptors", [&] { return frame::as_list(slots[0]); });
    PyObject* values_dict = frame::parameter("values", [&] { return frame::as_dict(slots[1]); });
    const auto descriptors = descriptors_from_dicts(list);
    const engine::CompiledSchema core(descriptors_to_core(descriptors));
    RecordWriter writer(core);
    writer.begin();
    for (size_t i = 0; i < descriptors.size(); ++i) {
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(values_dict, writer.key(i), &found) < 0) frame::throw_fetched();
        Ref value = Ref::steal(found);
        if (value) {
            writer.put(i, value.get(), descriptors[i]);
        } else {
            writer.put_missing(i, descriptors[i]);
        }
    }
    return writer.finish();
}

constexpr const char* kInstance[] = {"instance", "schema"};
constexpr const char* kInstances[] = {"instances", "schema"};
constexpr const char* kRows[] = {"rows", "schema"};
constexpr const char* kFields[] = {"field_descriptors", "values"};
constexpr frame::ArgumentSpec kInstanceSpec{"serialize_instance", nullptr, kInstance, 0, 2, {}};
constexpr frame::ArgumentSpec kBatchSpec{"serialize_batch", nullptr, kInstances, 0, 2, {}};
constexpr frame::ArgumentSpec kRowsSpec{"serialize_values_list", nullptr, kRows, 0, 2, {}};
constexpr frame::ArgumentSpec kFieldsSpec{"serialize_fields", nullptr, kFields, 0, 2, {}};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef serialize_instance_def = {
    "serialize_instance", frame::as_cfunction<frame::fastcall<kInstanceSpec, serialize_instance>>(),
    kFast,
    "serialize_instance(instance, schema)\n--\n\n"
    "Serializes a single Django model instance using a precompiled schema.\n"
    "\n"
    "This is the primary fast path: extracts all field values from the instance\n"
    "in a single native call via `getattr`, serializes them and returns a dict.\n"
    "This eliminates multiple crossings of the boundary between Python and native code.\n"
    "\n"
    "Args:\n"
    "    instance: A Django model instance (e.g., `my_obj`).\n"
    "    schema: A `ModelSchema` compiled from the model class.\n"
    "\n"
    "Returns:\n"
    "    A dict of serialized field values (JSON-compatible).\n"
    "\n"
    "Raises:\n"
    "    ValueError: On serialization failure.\n"
    "    TypeError: On type conversion failure."};

PyMethodDef serialize_batch_def = {
    "serialize_batch", frame::as_cfunction<frame::fastcall<kBatchSpec, serialize_batch>>(), kFast,
    "serialize_batch(instances, schema)\n--\n\n"
    "Serializes a batch of Django model instances using a precompiled schema.\n\nProcesses all "
    "instances in a single call, returning a list of dicts.\nFor batches above 64 records, "
    "consider using `async_serialize_batch`\nfrom an ASGI view to release the GIL during "
    "computation.\n\nArgs:\n    instances: A list/queryset of Django model instances.\n    "
    "schema: A `ModelSchema` compiled from the model class.\n\nReturns:\n    A list of dicts, "
    "one per instance."};

PyMethodDef serialize_values_list_def = {
    "serialize_values_list",
    frame::as_cfunction<frame::fastcall<kRowsSpec, serialize_values_list>>(), kFast,
    "serialize_values_list(rows, schema)\n--\n\n"
    "Serializes a QuerySet.values_list() result using a precompiled schema.\n"
    "\n"
    "This is the fastest path: one crossing of the boundary between Python and native code for "
    "the entire\n"
    "batch. Accepts the output of `qs.values_list(*fields, named=True)` or\n"
    "`qs.values_list(*fields)` (plain tuples).\n"
    "\n"
    "Each row is accessed by index (tuple position), not by getattr \xE2\x80\x94\n"
    "eliminating per-field Python method dispatch entirely."};

PyMethodDef serialize_fields_def = {
    "serialize_fields", frame::as_cfunction<frame::fastcall<kFieldsSpec, serialize_fields>>(),
    kFast,
    "serialize_fields(field_descriptors, values)\n--\n\n"
    "Serializes field values from a dict (legacy API \xE2\x80\x94 prefer `serialize_instance`)."};

}  // namespace sorvel::django
