#include "serializer/dict_writer.hpp"

#include <cmath>
#include <span>
#include <vector>

#include "engine/standard_types.hpp"
#include "frame/convert.hpp"
#include "serializer/failure.hpp"
#include "serializer/instance_storage.hpp"
#include "serializer/value_forms.hpp"

namespace sorvel::serializer {

using frame::Ref;

namespace {

template <class Append>
Ref text_form(CallState& state, Append&& append) {
    state.scratch.clear();
    append(state.scratch);
    const std::string_view text = state.scratch.view();
    return frame::new_ascii(text.data(), text.size());
}

// A str as it is; a subclass's text as a plain str.
Ref exact_str(PyObject* value) {
    if (PyUnicode_CheckExact(value)) return Ref::borrow(value);
    if (!PyUnicode_Check(value)) fail("expected a str, got " + type_name(value));
    Ref copy = Ref::steal(PyUnicode_FromObject(value));
    if (!copy) fail_fetched();
    return copy;
}

Ref finite_float(double value) {
    if (!std::isfinite(value)) {
        fail(std::string("float ") +
             (std::isnan(value) ? "NaN"
              : value > 0       ? "inf"
                                : "-inf") +
             " has no JSON form");
    }
    return frame::new_float(value);
}

Ref decimal_python(PyObject* value, uint32_t flags, CallState& state) {
    if (!(flags & kDecimalNumber))
        return text_form(state, [&](TextBuffer& out) { append_decimal(out, value, state.plan); });
    if (!engine::exact_decimal(value))
        decimal_text(value, state.plan);  // refuses NaN, non-Decimals
    Ref number = Ref::steal(PyNumber_Float(value));
    if (!number) fail_fetched();
    return number;
}

// A stored value of one of the value kinds.
Ref stored_python(Kind kind, uint32_t flags, PyObject* value, CallState& state) {
    switch (kind) {
        case Kind::Str:
            return exact_str(value);
        case Kind::Int:
            if (PyLong_CheckExact(value)) return Ref::borrow(value);
            if (PyLong_Check(value)) {
                Ref exact = Ref::steal(PyNumber_Index(value));
                if (!exact) fail_fetched();
                if (!PyLong_CheckExact(exact.get())) exact = Ref::steal(PyNumber_Long(value));
                if (!exact) fail_fetched();
                return exact;
            }
            fail("expected an int, got " + type_name(value));
        case Kind::Float:
            if (PyFloat_CheckExact(value)) {
                if (!std::isfinite(PyFloat_AS_DOUBLE(value)))
                    finite_float(PyFloat_AS_DOUBLE(value));
                return Ref::borrow(value);
            }
            if (PyFloat_Check(value) || PyLong_Check(value)) {
                const double number = PyFloat_AsDouble(value);
                if (number == -1.0 && PyErr_Occurred()) fail_fetched();
                return finite_float(number);
            }
            fail("expected a float, got " + type_name(value));
        case Kind::Bool:
            if (value == Py_True || value == Py_False) return Ref::borrow(value);
            fail("expected a bool, got " + type_name(value));
        case Kind::Decimal:
            return decimal_python(value, flags, state);
        case Kind::Date:
            return text_form(state, [&](TextBuffer& out) { append_date(out, value); });
        case Kind::Time:
            return text_form(state, [&](TextBuffer& out) { append_time(out, value, flags); });
        case Kind::DateTime:
            return text_form(
                state, [&](TextBuffer& out) { append_datetime(out, value, flags, state.tz); });
        case Kind::Duration:
            if (flags & kDurationSeconds) return frame::new_float(duration_seconds(value));
            return text_form(state, [&](TextBuffer& out) { append_duration(out, value, flags); });
        case Kind::Uuid:
            return text_form(state, [&](TextBuffer& out) { append_uuid(out, value, flags); });
        case Kind::Bytes:
            return text_form(state, [&](TextBuffer& out) { append_bytes(out, value); });
        default:  // Json: the stored structure as it is
            return Ref::borrow(value);
    }
}

// A value returned by Python code: plain values as they are, containers rebuilt, the other
// known types in the column's forms.
Ref plain_python(PyObject* value, uint32_t flags, CallState& state) {
    switch (shape_of(value, state.plan)) {
        case Shape::None:
        case Shape::Bool:
            return Ref::borrow(value);
        case Shape::Str:
            return exact_str(value);
        case Shape::Int:
            return stored_python(Kind::Int, flags, value, state);
        case Shape::Float:
            return stored_python(Kind::Float, flags, value, state);
        case Shape::Decimal:
            return decimal_python(value, flags, state);
        case Shape::DateTime:
            return stored_python(Kind::DateTime, flags, value, state);
        case Shape::Date:
            return stored_python(Kind::Date, flags, value, state);
        case Shape::Time:
            return stored_python(Kind::Time, flags, value, state);
        case Shape::Duration:
            return stored_python(Kind::Duration, flags, value, state);
        case Shape::Uuid:
            return stored_python(Kind::Uuid, flags, value, state);
        case Shape::List:
        case Shape::Tuple: {
            Nesting nesting(state);
            Ref items = Ref::steal(PySequence_Fast(value, "not a sequence"));
            if (!items) fail_fetched();
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
            frame::ListFiller list(size);
            for (Py_ssize_t i = 0; i < size; ++i) {
                try {
                    list.push(plain_python(PySequence_Fast_GET_ITEM(items.get(), i), flags, state));
                } catch (Failure& failure) {
                    prefix_index(failure, i);
                    throw;
                }
            }
            return list.finish();
        }
        case Shape::Dict: {
            Nesting nesting(state);
            Ref dict = frame::new_dict();
            Py_ssize_t position = 0;
            PyObject* key;
            PyObject* item;
            while (PyDict_Next(value, &position, &key, &item)) {
                if (!PyUnicode_Check(key))
                    fail("a dict key of type " + type_name(key) + " has no JSON form");
                Ref held_key = Ref::borrow(key);
                Ref held_item = Ref::borrow(item);
                Ref converted;
                try {
                    converted = plain_python(held_item.get(), flags, state);
                } catch (Failure& failure) {
                    prefix_key(failure, held_key.get());
                    throw;
                }
                frame::dict_set(dict.get(), held_key.get(), converted.get());
            }
            return dict;
        }
        default:
            fail("a value of type " + type_name(value) + " has no JSON form");
    }
}

Ref file_python(const Column& column, PyObject* value, const Plan& plan) {
    Ref name = file_name(value, plan);
    if (name.get() == Py_None || PyUnicode_GET_LENGTH(name.get()) == 0) return frame::new_none();
    if (!(column.flags & kFileUrl)) return name;
    Ref url = Ref::steal(PyObject_CallMethod(column.extra.get(), "url", "O", name.get()));
    if (!url) fail_fetched();
    return url;
}

Ref column_python(const Column& column, PyObject* value, PyObject* instance, CallState& state) {
    switch (column.kind) {
        case Kind::Attribute:
        case Kind::Call:
            return plain_python(value, column.flags, state);
        case Kind::Hook: {
            Ref result = Ref::steal(PyObject_CallOneArg(column.extra.get(), value));
            if (!result) fail_fetched();
            return plain_python(result.get(), column.flags, state);
        }
        default:
            break;
    }
    if (value == Py_None) return Ref::borrow(value);
    if (column.flags & kChoiceLabel) {
        if (Ref label = choice_label(column, value)) return label;
    }
    switch (column.kind) {
        case Kind::File:
            return file_python(column, value, state.plan);
        case Kind::Text: {
            Ref text = Ref::steal(
                PyObject_CallMethod(column.extra.get(), "value_to_string", "O", instance));
            if (!text) fail_fetched();
            return plain_python(text.get(), column.flags, state);
        }
        case Kind::Related: {
            Nesting nesting(state);
            return row_dict(*column.nested, value, state);
        }
        case Kind::Many:
        case Kind::Pks: {
            Nesting nesting(state);
            Ref items = Ref::steal(PySequence_Fast(value, "not a list"));
            if (!items) fail_fetched();
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
            frame::ListFiller list(size);
            for (Py_ssize_t i = 0; i < size; ++i) {
                PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
                try {
                    if (column.kind == Kind::Many) {
                        list.push(row_dict(*column.nested, item, state));
                    } else {
                        Ref pk = related_pk(column, item);
                        list.push(pk.get() == Py_None ? std::move(pk)
                                                      : stored_python(column.pk_kind, column.flags,
                                                                      pk.get(), state));
                    }
                } catch (Failure& failure) {
                    prefix_index(failure, i);
                    throw;
                }
            }
            return list.finish();
        }
        default:
            return stored_python(column.kind, column.flags, value, state);
    }
}

// Whether column_python gives a stored value back as the same object, decided without running
// Python code: None (but for a hook's column), and the plain values of the plain kinds.
bool passes_as_is(const Column& column, PyObject* value) {
    if (column.kind == Kind::Hook) return false;
    if (value == Py_None) return true;
    if (column.flags & kChoiceLabel) return false;
    switch (column.kind) {
        case Kind::Str:
            return PyUnicode_CheckExact(value);
        case Kind::Int:
            return PyLong_CheckExact(value);
        case Kind::Float:
            return PyFloat_CheckExact(value) && std::isfinite(PyFloat_AS_DOUBLE(value));
        case Kind::Bool:
            return value == Py_True || value == Py_False;
        default:
            return false;
    }
}

}  // namespace

Ref row_dict(const Plan& plan, PyObject* instance, CallState& state) {
    InstanceStorage storage(instance, plan);
    const size_t size = plan.columns.size();
    frame::DictTemplate::Fill row = plan.dicts->start();
    std::vector<uint32_t> skipped;  // missing columns left out of the row (on_missing="skip")
    for (size_t i = 0; i < size; ++i) {
        const Column& column = plan.columns[i];
        // The usual stored value, borrowed and passing through, runs no Python code; anything
        // else may, and may change the instance: later columns check its values again.
        if (PyObject* value = storage.peek(column);
            value != nullptr && passes_as_is(column, value)) {
            row.set(i, value);
            continue;
        }
        try {
            Stored stored = storage.read(column, i);
            if (stored.value) {
                row.set(i, column_python(column, stored.value.get(), instance, state));
            } else {
                if (!plan.skip_missing) fail_missing(column, stored.missing);
                skipped.push_back(uint32_t(i));
            }
        } catch (Failure& failure) {
            prefix_key(failure, column.key.get());
            throw;
        }
        storage.refresh();
    }
    Ref dict = row.done();
    // Deleting keeps the other keys in column order, as if the skipped ones were never there.
    for (uint32_t i : skipped) {
        if (PyDict_DelItem(dict.get(), plan.columns[i].key.get()) < 0) fail_fetched();
    }
    return dict;
}

}  // namespace sorvel::serializer
