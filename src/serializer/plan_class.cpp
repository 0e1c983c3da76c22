// The Python class _Plan: a serializer's plan built from the column list the Python layer
// compiles, and its four ways of writing instances.
#include <algorithm>

#include "frame/list_walk.hpp"
#include "frame/native_class.hpp"
#include "serializer/dict_writer.hpp"
#include "serializer/failure.hpp"
#include "serializer/instance_storage.hpp"
#include "serializer/json_text.hpp"
#include "serializer/json_writer.hpp"
#include "serializer/plan.hpp"
#include "serializer/value_forms.hpp"

namespace sorvel::serializer {
namespace {

using frame::Ref;

frame::Once<PyTypeObject*> type_cell;

const Plan& self_plan(PyObject* self) { return frame::payload_of<Plan>(self); }

PyObject* interned_copy(PyObject* text) {
    if (!PyUnicode_CheckExact(text)) frame::throw_not_instance(text, "str");
    PyObject* interned = Py_NewRef(text);
    PyUnicode_InternInPlace(&interned);
    return interned;
}

Column read_column_spec(PyObject* spec) {
    if (!PyTuple_Check(spec) || PyTuple_GET_SIZE(spec) != 7)
        frame::throw_type_error("a column is a tuple of 7 items");
    PyObject* const* item = &PyTuple_GET_ITEM(spec, 0);
    Column column;
    column.key = Ref::steal(interned_copy(item[0]));
    column.json_key.assign(1, ',');
    column.json_key += json_key_text(column.key.get());
    if (column.json_key.size() <= column.short_key.size())
        std::copy(column.json_key.begin(), column.json_key.end(), column.short_key.begin());
    const int64_t kind = frame::as_i64(item[1]);
    if (kind < 0 || kind >= kKindCount) frame::throw_value_error("unknown column kind");
    column.kind = Kind(kind);
    if (item[2] != Py_None) column.source = Ref::steal(interned_copy(item[2]));
    const int64_t flags = frame::as_i64(item[3]);
    if (flags < 0 || (uint64_t(flags) & ~uint64_t(kAllFlags)) != 0)
        frame::throw_value_error("unknown column flags");
    column.flags = uint32_t(flags);
    column.extra = Ref::borrow(item[4]);
    if (item[5] != Py_None) column.extra2 = Ref::steal(interned_copy(item[5]));
    const int64_t pk_kind = frame::as_i64(item[6]);
    if (pk_kind < 0 || pk_kind > int64_t(Kind::Bytes)) frame::throw_value_error("bad pk kind");
    column.pk_kind = Kind(pk_kind);

    const bool needs_source = column.kind != Kind::Call;
    if (needs_source && !column.source) frame::throw_value_error("the column needs a source");
    switch (column.kind) {
        case Kind::Related:
        case Kind::Many:
            column.nested = &frame::as_instance<Plan>(column.extra.get(), plan_type());
            break;
        case Kind::Pks:
            column.extra = Ref::steal(interned_copy(column.extra.get()));
            break;
        case Kind::Hook:
        case Kind::Call:
            if (!PyCallable_Check(column.extra.get()))
                frame::throw_type_error("the column needs a callable");
            break;
        default:
            break;
    }
    if ((column.flags & kChoiceLabel) && !PyDict_Check(column.extra.get()))
        frame::throw_type_error("choice labels must be a dict");
    return column;
}

constexpr const char* kNewParameters[] = {"model", "columns", "context", "skip_missing"};
constexpr frame::ArgumentSpec kNewSpec{"__new__", "_Plan", kNewParameters, 0, 4, {}};

Plan build(PyObject* const* slots) {
    load_datetime_api();
    Plan plan;
    if (!PyType_Check(slots[0])) frame::throw_not_instance(slots[0], "type");
    plan.model = Ref::borrow(slots[0]);
    PyObject* columns = frame::parameter("columns", [&] { return frame::as_list(slots[1]); });
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(columns); ++i)
        plan.columns.push_back(read_column_spec(PyList_GET_ITEM(columns, i)));
    PyObject* context = slots[2];
    if (!PyTuple_Check(context) || PyTuple_GET_SIZE(context) != 4)
        frame::throw_type_error("context is (error class, Decimal, FieldFile, UUID)");
    plan.error_class = Ref::borrow(PyTuple_GET_ITEM(context, 0));
    plan.decimal_type = Ref::borrow(PyTuple_GET_ITEM(context, 1));
    plan.fieldfile_type = Ref::borrow(PyTuple_GET_ITEM(context, 2));
    plan.uuid_type = Ref::borrow(PyTuple_GET_ITEM(context, 3));
    for (PyObject* type :
         {plan.decimal_type.get(), plan.fieldfile_type.get(), plan.uuid_type.get()}) {
        if (!PyType_Check(type)) frame::throw_not_instance(type, "type");
    }
    plan.skip_missing = frame::as_bool(slots[3]);
    plan.hints = std::make_unique<std::atomic<Py_ssize_t>[]>(plan.columns.size());
    for (size_t i = 0; i < plan.columns.size(); ++i)
        plan.hints[i].store(-1, std::memory_order_relaxed);
    std::vector<PyObject*> keys;
    for (const Column& column : plan.columns) {
        for (PyObject* seen : keys) {
            if (seen == column.key.get()) frame::throw_value_error("two columns have one key");
        }
        keys.push_back(column.key.get());
    }
    plan.dicts = std::make_unique<frame::DictTemplate>(keys);
    prepare_storage(plan);
    return plan;
}

// Visits the rows of a list, a tuple or any iterable, with their positions. A list is walked
// as Python code run for its items may shrink it. In a list or a tuple the rows ahead are known:
// their memory is asked for while earlier rows are written (frame::walk_list_ahead).
template <class Visit>
void walk_rows(const Plan& plan, PyObject* rows, Visit&& visit) {
    auto near = [&](PyObject* next) {
        if (plan.values) plan.values->prefetch(next);
    };
    if (PyList_Check(rows)) {
        Py_ssize_t i = 0;
        frame::walk_list_ahead(
            rows, [&](PyObject* item) { visit(item, i++); }, near, frame::prefetch_object);
    } else if (PyTuple_Check(rows)) {
        const Py_ssize_t size = PyTuple_GET_SIZE(rows);
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (i + 2 < size) frame::prefetch_object(PyTuple_GET_ITEM(rows, i + 2));
            if (i + 1 < size) near(PyTuple_GET_ITEM(rows, i + 1));
            visit(PyTuple_GET_ITEM(rows, i), i);
        }
    } else {
        Ref iterator = Ref::steal(PyObject_GetIter(rows));
        if (!iterator) frame::throw_fetched();
        Py_ssize_t i = 0;
        while (Ref item = Ref::steal(PyIter_Next(iterator.get())))
            visit(item.get(), i++);
        if (PyErr_Occurred()) frame::throw_fetched();
    }
}

PyObject* time_zone(PyObject* tz) { return tz == Py_None ? nullptr : tz; }

Ref dump(PyObject* self, PyObject* const* slots) {
    const Plan& plan = self_plan(self);
    CallState state{plan, time_zone(slots[1]), {}, 0};
    const bool sized = PyList_Check(slots[0]) || PyTuple_Check(slots[0]);
    const Py_ssize_t size = sized ? Py_SIZE(slots[0]) : 0;
    Ref result = frame::new_list(size);
    Py_ssize_t count = 0;
    walk_rows(plan, slots[0], [&](PyObject* instance, Py_ssize_t row) {
        Ref dict;
        try {
            dict = row_dict(plan, instance, state);
        } catch (Failure& failure) {
            raise_failure(plan, row, failure);
        }
        if (count < size) {
            PyList_SET_ITEM(result.get(), count, dict.release());
        } else {
            frame::list_append(result.get(), dict.get());
        }
        ++count;
    });
    if (count < size && PyList_SetSlice(result.get(), count, size, nullptr) < 0)
        frame::throw_fetched();
    return result;
}

Ref dump_one(PyObject* self, PyObject* const* slots) {
    const Plan& plan = self_plan(self);
    CallState state{plan, time_zone(slots[1]), {}, 0};
    try {
        return row_dict(plan, slots[0], state);
    } catch (Failure& failure) {
        raise_failure(plan, -1, failure);
    }
}

// Writes rows from `rows` (at most `limit` of them, when limit >= 0), comma-separated, each
// error naming its row as start + position. Answers the number written.
Py_ssize_t write_rows(TextBuffer& out, const Plan& plan, PyObject* rows, Py_ssize_t limit,
                      Py_ssize_t start, CallState& state) {
    Py_ssize_t count = 0;
    auto write_one = [&](PyObject* instance) {
        if (count + start > 0) out.push(',');
        try {
            write_row(out, plan, instance, state);
        } catch (Failure& failure) {
            raise_failure(plan, start + count, failure);
        }
        ++count;
    };
    if (limit < 0) {
        const bool sized = PyList_Check(rows) || PyTuple_Check(rows);
        walk_rows(plan, rows, [&](PyObject* instance, Py_ssize_t) {
            write_one(instance);
            // After the first row, room for all of them at its size.
            if (count == 1 && sized) {
                const size_t rows_left = size_t(Py_SIZE(rows));
                if (rows_left < (size_t(1) << 40) / (out.size() + 1))
                    out.reserve(out.size() * rows_left * 9 / 8 + 64);
            }
        });
        return count;
    }
    while (count < limit) {
        Ref item = Ref::steal(PyIter_Next(rows));
        if (!item) {
            if (PyErr_Occurred()) frame::throw_fetched();
            break;
        }
        write_one(item.get());
    }
    return count;
}

Ref dump_json(PyObject* self, PyObject* const* slots) {
    const Plan& plan = self_plan(self);
    CallState state{plan, time_zone(slots[1]), {}, 0};
    TextBuffer out{TextBuffer::ForBytes{}};
    out.reserve(4096);
    out.push('[');
    write_rows(out, plan, slots[0], -1, 0, state);
    out.push(']');
    return out.take_bytes();
}

Ref json_chunk(PyObject* self, PyObject* const* slots) {
    const Plan& plan = self_plan(self);
    if (!PyIter_Check(slots[0])) frame::throw_not_instance(slots[0], "iterator");
    const int64_t limit = frame::parameter("limit", [&] { return frame::as_i64(slots[1]); });
    const int64_t start = frame::parameter("start", [&] { return frame::as_i64(slots[2]); });
    if (limit < 1 || start < 0)
        frame::throw_value_error("limit must be positive, start not negative");
    CallState state{plan, time_zone(slots[3]), {}, 0};
    TextBuffer out{TextBuffer::ForBytes{}};
    out.reserve(4096);
    const Py_ssize_t count =
        write_rows(out, plan, slots[0], Py_ssize_t(limit), Py_ssize_t(start), state);
    Ref bytes = out.take_bytes();
    Ref written = frame::new_size(count);
    return Ref::steal(frame::must(PyTuple_Pack(2, bytes.get(), written.get())));
}

Py_ssize_t length(PyObject* self) { return Py_ssize_t(self_plan(self).columns.size()); }

Ref repr(PyObject* self) {
    return frame::new_str("<_Plan of " + std::to_string(self_plan(self).columns.size()) +
                          " columns>");
}

constexpr const char* kRowsTz[] = {"rows", "tz"};
constexpr const char* kInstanceTz[] = {"instance", "tz"};
constexpr const char* kChunk[] = {"iterator", "limit", "start", "tz"};
constexpr frame::ArgumentSpec kDumpSpec{"dump", "_Plan", kRowsTz, 0, 2, {}};
constexpr frame::ArgumentSpec kDumpOneSpec{"dump_one", "_Plan", kInstanceTz, 0, 2, {}};
constexpr frame::ArgumentSpec kJsonSpec{"dump_json", "_Plan", kRowsTz, 0, 2, {}};
constexpr frame::ArgumentSpec kChunkSpec{"json_chunk", "_Plan", kChunk, 0, 4, {}};
constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"dump", frame::as_cfunction<frame::fastcall<kDumpSpec, dump>>(), kFast,
     "dump($self, rows, tz)\n--\n\nA list of one dict per instance."},
    {"dump_one", frame::as_cfunction<frame::fastcall<kDumpOneSpec, dump_one>>(), kFast,
     "dump_one($self, instance, tz)\n--\n\nThe dict of one instance."},
    {"dump_json", frame::as_cfunction<frame::fastcall<kJsonSpec, dump_json>>(), kFast,
     "dump_json($self, rows, tz)\n--\n\nThe JSON array of the instances, as bytes."},
    {"json_chunk", frame::as_cfunction<frame::fastcall<kChunkSpec, json_chunk>>(), kFast,
     "json_chunk($self, iterator, limit, start, tz)\n--\n\nUp to `limit` more rows of the JSON "
     "array (comma-led unless `start` is 0), and how many were written."},
    {nullptr, nullptr, 0, nullptr}};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&frame::construct<Plan, kNewSpec, build>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&frame::dealloc<Plan>)},
    {Py_tp_repr, reinterpret_cast<void*>(&frame::unary_slot<repr>)},
    {Py_mp_length, reinterpret_cast<void*>(&frame::length_slot<length>)},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("_Plan(model, columns, context, skip_missing)\n--\n\n"
                                  "A compiled model serializer (private to sorvel.django).")},
    {0, nullptr}};

PyType_Spec kTypeSpec{"builtins._Plan", int(sizeof(frame::Instance<Plan>)), 0, Py_TPFLAGS_DEFAULT,
                      kSlots};

}  // namespace

PyTypeObject* plan_type() { return frame::class_type(type_cell, kTypeSpec); }

}  // namespace sorvel::serializer
