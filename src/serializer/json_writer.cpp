#include "serializer/json_writer.hpp"

#include "frame/convert.hpp"
#include "serializer/failure.hpp"
#include "serializer/instance_storage.hpp"
#include "serializer/json_text.hpp"
#include "serializer/value_forms.hpp"

namespace sorvel::serializer {

using frame::Ref;

namespace {

template <class Append>
void quoted(TextBuffer& out, Append&& append) {
    out.push('"');
    append(out);
    out.push('"');
}

void write_decimal(TextBuffer& out, PyObject* value, uint32_t flags, CallState& state) {
    if (flags & kDecimalNumber) {
        // Its exact digits, read back as the same float that dump() gives.
        const size_t start = out.size();
        append_decimal(out, value, state.plan);
        if (out.view().substr(start).find('.') == std::string_view::npos) out.append(".0", 2);
    } else {
        quoted(out, [&](TextBuffer& o) { append_decimal(o, value, state.plan); });
    }
}

void write_stored(TextBuffer& out, Kind kind, uint32_t flags, PyObject* value, CallState& state) {
    switch (kind) {
        case Kind::Str:
            if (!PyUnicode_Check(value)) fail("expected a str, got " + type_name(value));
            append_json_str(out, value);
            return;
        case Kind::Int:
            if (!PyLong_Check(value)) fail("expected an int, got " + type_name(value));
            if (value == Py_True || value == Py_False) {
                out.push(value == Py_True ? '1' : '0');
            } else {
                append_json_int(out, value);
            }
            return;
        case Kind::Float:
            if (PyFloat_Check(value) || PyLong_Check(value)) {
                const double number = PyFloat_AsDouble(value);
                if (number == -1.0 && PyErr_Occurred()) fail_fetched();
                append_json_float(out, number);
                return;
            }
            fail("expected a float, got " + type_name(value));
        case Kind::Bool:
            if (value == Py_True) {
                out.append("true");
            } else if (value == Py_False) {
                out.append("false");
            } else {
                fail("expected a bool, got " + type_name(value));
            }
            return;
        case Kind::Decimal:
            write_decimal(out, value, flags, state);
            return;
        case Kind::Date:
            quoted(out, [&](TextBuffer& o) { append_date(o, value); });
            return;
        case Kind::Time:
            quoted(out, [&](TextBuffer& o) { append_time(o, value, flags); });
            return;
        case Kind::DateTime:
            quoted(out, [&](TextBuffer& o) { append_datetime(o, value, flags, state.tz); });
            return;
        case Kind::Duration:
            if (flags & kDurationSeconds) {
                append_json_float(out, duration_seconds(value));
            } else {
                quoted(out, [&](TextBuffer& o) { append_duration(o, value, flags); });
            }
            return;
        case Kind::Uuid:
            quoted(out, [&](TextBuffer& o) { append_uuid(o, value, flags); });
            return;
        case Kind::Bytes:
            quoted(out, [&](TextBuffer& o) { append_bytes(o, value); });
            return;
        default:
            fail("internal: not a stored kind");
    }
}

void write_plain(TextBuffer& out, PyObject* value, uint32_t flags, CallState& state) {
    switch (shape_of(value, state.plan)) {
        case Shape::None:
            out.append("null");
            return;
        case Shape::Bool:
            out.append(value == Py_True ? "true" : "false");
            return;
        case Shape::Str:
            append_json_str(out, value);
            return;
        case Shape::Int:
            write_stored(out, Kind::Int, flags, value, state);
            return;
        case Shape::Float:
            append_json_float(out, PyFloat_AS_DOUBLE(value));
            return;
        case Shape::Decimal:
            write_decimal(out, value, flags, state);
            return;
        case Shape::DateTime:
            write_stored(out, Kind::DateTime, flags, value, state);
            return;
        case Shape::Date:
            write_stored(out, Kind::Date, flags, value, state);
            return;
        case Shape::Time:
            write_stored(out, Kind::Time, flags, value, state);
            return;
        case Shape::Duration:
            write_stored(out, Kind::Duration, flags, value, state);
            return;
        case Shape::Uuid:
            write_stored(out, Kind::Uuid, flags, value, state);
            return;
        case Shape::List:
        case Shape::Tuple: {
            Nesting nesting(state);
            Ref items = Ref::steal(PySequence_Fast(value, "not a sequence"));
            if (!items) fail_fetched();
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
            out.push('[');
            for (Py_ssize_t i = 0; i < size; ++i) {
                if (i > 0) out.push(',');
                try {
                    write_plain(out, PySequence_Fast_GET_ITEM(items.get(), i), flags, state);
                } catch (Failure& failure) {
                    prefix_index(failure, i);
                    throw;
                }
            }
            out.push(']');
            return;
        }
        case Shape::Dict: {
            Nesting nesting(state);
            out.push('{');
            Py_ssize_t position = 0;
            PyObject* key;
            PyObject* item;
            bool first = true;
            while (PyDict_Next(value, &position, &key, &item)) {
                if (!PyUnicode_Check(key))
                    fail("a dict key of type " + type_name(key) + " has no JSON form");
                Ref held_key = Ref::borrow(key);
                Ref held_item = Ref::borrow(item);
                if (!first) out.push(',');
                first = false;
                append_json_str(out, held_key.get());
                out.push(':');
                try {
                    write_plain(out, held_item.get(), flags, state);
                } catch (Failure& failure) {
                    prefix_key(failure, held_key.get());
                    throw;
                }
            }
            out.push('}');
            return;
        }
        default:
            fail("a value of type " + type_name(value) + " has no JSON form");
    }
}

// A JSONField value: written natively; with a custom encoder, what json.dumps(value, cls=encoder)
// writes.
void write_json_value(TextBuffer& out, const Column& column, PyObject* value, CallState& state) {
    if (!column.extra || column.extra.get() == Py_None) {
        write_plain(out, value, column.flags, state);
        return;
    }
    Ref json = Ref::steal(PyImport_ImportModule("json"));
    if (!json) fail_fetched();
    Ref dumps = Ref::steal(PyObject_GetAttrString(json.get(), "dumps"));
    if (!dumps) fail_fetched();
    Ref args = Ref::steal(frame::must(PyTuple_Pack(1, value)));
    Ref kwargs = Ref::steal(
        frame::must(Py_BuildValue("{sOsO}", "cls", column.extra.get(), "allow_nan", Py_False)));
    Ref text = Ref::steal(PyObject_Call(dumps.get(), args.get(), kwargs.get()));
    if (!text) fail_fetched();
    out.append(frame::as_text(text.get()));
}

void write_file(TextBuffer& out, const Column& column, PyObject* value, const Plan& plan) {
    Ref name = file_name(value, plan);
    if (name.get() == Py_None || PyUnicode_GET_LENGTH(name.get()) == 0) {
        out.append("null");
        return;
    }
    if (column.flags & kFileUrl) {
        Ref url = Ref::steal(PyObject_CallMethod(column.extra.get(), "url", "O", name.get()));
        if (!url) fail_fetched();
        if (!PyUnicode_Check(url.get())) fail("storage.url() returned " + type_name(url.get()));
        name = std::move(url);
    }
    append_json_str(out, name.get());
}

bool write_label(TextBuffer& out, const Column& column, PyObject* value) {
    Ref label = choice_label(column, value);
    if (!label) return false;
    append_json_str(out, label.get());
    return true;
}

void write_column(TextBuffer& out, const Column& column, PyObject* value, PyObject* instance,
                  CallState& state) {
    switch (column.kind) {
        case Kind::Attribute:
        case Kind::Call:
            write_plain(out, value, column.flags, state);
            return;
        case Kind::Hook: {
            Ref result = Ref::steal(PyObject_CallOneArg(column.extra.get(), value));
            if (!result) fail_fetched();
            write_plain(out, result.get(), column.flags, state);
            return;
        }
        default:
            break;
    }
    if (value == Py_None) {
        out.append("null");
        return;
    }
    if ((column.flags & kChoiceLabel) && write_label(out, column, value)) return;
    switch (column.kind) {
        case Kind::Json:
            write_json_value(out, column, value, state);
            return;
        case Kind::File:
            write_file(out, column, value, state.plan);
            return;
        case Kind::Text: {
            Ref text = Ref::steal(
                PyObject_CallMethod(column.extra.get(), "value_to_string", "O", instance));
            if (!text) fail_fetched();
            write_plain(out, text.get(), column.flags, state);
            return;
        }
        case Kind::Related: {
            Nesting nesting(state);
            write_row(out, *column.nested, value, state);
            return;
        }
        case Kind::Many:
        case Kind::Pks: {
            Nesting nesting(state);
            Ref items = Ref::steal(PySequence_Fast(value, "not a list"));
            if (!items) fail_fetched();
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
            out.push('[');
            for (Py_ssize_t i = 0; i < size; ++i) {
                if (i > 0) out.push(',');
                PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
                try {
                    if (column.kind == Kind::Many) {
                        write_row(out, *column.nested, item, state);
                    } else {
                        Ref pk = related_pk(column, item);
                        if (pk.get() == Py_None) {
                            out.append("null");
                        } else {
                            write_stored(out, column.pk_kind, column.flags, pk.get(), state);
                        }
                    }
                } catch (Failure& failure) {
                    prefix_index(failure, i);
                    throw;
                }
            }
            out.push(']');
            return;
        }
        default:
            write_stored(out, column.kind, column.flags, value, state);
    }
}

// The column's key with its colon, after a comma unless it is the row's first.
inline void write_key(TextBuffer& out, const Column& column, bool first) {
    const size_t size = column.json_key.size();
    if (size <= column.short_key.size()) {
        char* p = out.room(column.short_key.size());
        std::memcpy(p, column.short_key.data(), column.short_key.size());
        if (first) std::memmove(p, p + 1, size - 1);
        out.commit(p + size - (first ? 1 : 0));
    } else {
        out.append(column.json_key.data() + (first ? 1 : 0), size - (first ? 1 : 0));
    }
}

}  // namespace

void write_row(TextBuffer& out, const Plan& plan, PyObject* instance, CallState& state) {
    InstanceStorage storage(instance, plan);
    out.push('{');
    bool first = true;
    for (size_t i = 0; i < plan.columns.size(); ++i) {
        const Column& column = plan.columns[i];
        try {
            Stored stored = storage.read(column, i);
            if (stored.value) {
                write_key(out, column, first);
                first = false;
                write_column(out, column, stored.value.get(), instance, state);
            } else if (!plan.skip_missing) {
                fail_missing(column, stored.missing);
            }
        } catch (Failure& failure) {
            prefix_key(failure, column.key.get());
            throw;
        }
        // Reading or writing the column may have run Python code that changed the instance.
        storage.refresh();
    }
    out.push('}');
}

}  // namespace sorvel::serializer
