// The messages of an input plan's error records, shaped as {row: {field: [message, ...]}}:
// what ValidationResult.errors gives. A message is Django's rendering of its template,
// `text % params`, with the template's text in the active language resolved once per plan and
// language by the Python side; the records are walked, their params made and the texts
// formatted here.
#include "validation/error_messages.hpp"

#include "frame/convert.hpp"
#include "frame/error.hpp"

namespace sorvel::validation {
namespace {

using frame::Ref;

Ref checked(PyObject* object) {
    if (object == nullptr) frame::throw_fetched();
    return Ref::steal(object);
}

// How the Python side resolved a message key of a field (see validation.py, _entry).
enum EntryKind : long {
    kText = 0,    // (0, text, extra): one text
    kPlural = 1,  // (1, number name, extra, {number: text}): the text depends on a param
    kOther = 2,   // (2, None, extra): rendered by the Python side, record by record
};

struct Entry {
    long kind;
    PyObject* first;   // the text, or the name of the number param (borrowed from the entry)
    PyObject* extra;   // a dict of params the message adds, or None
    PyObject* plural;  // the texts by number (kPlural)
};

Entry read_entry(PyObject* entry) {
    if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) < 3)
        frame::throw_type_error("a message entry must be a tuple");
    const long kind = PyLong_AsLong(PyTuple_GET_ITEM(entry, 0));
    if (kind == -1 && PyErr_Occurred()) frame::throw_fetched();
    Entry read{kind, PyTuple_GET_ITEM(entry, 1), PyTuple_GET_ITEM(entry, 2), nullptr};
    if (kind == kText && !PyUnicode_Check(read.first))
        frame::throw_type_error("a message text must be a str");
    if (kind == kPlural) {
        if (PyTuple_GET_SIZE(entry) < 4 || !PyDict_Check(PyTuple_GET_ITEM(entry, 3)))
            frame::throw_type_error("a plural message entry needs its texts");
        read.plural = PyTuple_GET_ITEM(entry, 3);
    }
    return read;
}

// The record's params as a dict, the message's own params under them; null when there are
// none (Django then leaves the text as it is).
Ref params_of(PyObject* pairs, PyObject* extra) {
    const bool has_extra = extra != Py_None && PyDict_GET_SIZE(extra) > 0;
    if (pairs == Py_None && !has_extra) return {};
    Ref params = has_extra ? checked(PyDict_Copy(extra)) : frame::new_dict();
    if (pairs != Py_None) {
        if (!PyTuple_Check(pairs) || PyTuple_GET_SIZE(pairs) % 2 != 0)
            frame::throw_type_error("error params must be a tuple of names and values");
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(pairs); i += 2)
            frame::dict_set(params.get(), PyTuple_GET_ITEM(pairs, i),
                            PyTuple_GET_ITEM(pairs, i + 1));
    }
    if (PyDict_GET_SIZE(params.get()) == 0) return {};
    return params;
}

class Renderer {
  public:
    Renderer(PyObject* names, PyObject* entries, PyObject* resolve, PyObject* plural_text,
             PyObject* render_other, PyObject* render_django)
        : names_(names),
          entries_(entries),
          resolve_(resolve),
          plural_text_(plural_text),
          render_other_(render_other),
          render_django_(render_django) {
        if (!PyTuple_Check(names) || !PyList_Check(entries) ||
            PyList_GET_SIZE(entries) != PyTuple_GET_SIZE(names))
            frame::throw_type_error("names and entries must match the plan's fields");
    }

    // The message of one record, and the name of its field (borrowed from the names).
    Ref message(PyObject* record, PyObject*& name);

  private:
    Ref entry_of(Py_ssize_t position, PyObject* key);
    Ref plural(const Entry& entry, Py_ssize_t position, PyObject* key, PyObject* params);

    PyObject* names_;
    PyObject* entries_;
    PyObject* resolve_;
    PyObject* plural_text_;
    PyObject* render_other_;
    PyObject* render_django_;
};

Ref Renderer::entry_of(Py_ssize_t position, PyObject* key) {
    PyObject* known = PyList_GET_ITEM(entries_, position);
    if (!PyDict_Check(known)) frame::throw_type_error("message entries must be dicts");
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(known, key, &found) < 0) frame::throw_fetched();
    if (found != nullptr) return Ref::steal(found);
    // Resolved (and kept for the next records) by the Python side.
    Ref index = frame::new_size(position);
    PyObject* args[] = {index.get(), key};
    return checked(PyObject_Vectorcall(resolve_, args, 2, nullptr));
}

Ref Renderer::plural(const Entry& entry, Py_ssize_t position, PyObject* key, PyObject* params) {
    PyObject* number = nullptr;
    if (params == nullptr || PyDict_GetItemRef(params, entry.first, &number) == 0) return {};
    if (number == nullptr) frame::throw_fetched();
    Ref held = Ref::steal(number);
    PyObject* text = nullptr;
    // An unhashable number has no cached text: the Python side renders the record.
    if (PyDict_GetItemRef(entry.plural, number, &text) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) frame::throw_fetched();
        PyErr_Clear();
        return {};
    }
    if (text != nullptr) return Ref::steal(text);
    Ref index = frame::new_size(position);
    PyObject* args[] = {index.get(), key, number};
    Ref made = checked(PyObject_Vectorcall(plural_text_, args, 3, nullptr));
    if (!PyUnicode_Check(made.get())) frame::throw_type_error("a message text must be a str");
    frame::dict_set(entry.plural, number, made.get());
    return made;
}

Ref Renderer::message(PyObject* record, PyObject*& name) {
    if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 4)
        frame::throw_type_error("an error record must be a tuple of four");
    const Py_ssize_t position = PyLong_AsSsize_t(PyTuple_GET_ITEM(record, 1));
    if (position == -1 && PyErr_Occurred()) frame::throw_fetched();
    if (position < 0 || position >= PyTuple_GET_SIZE(names_))
        frame::throw_value_error("an error record names no field of the plan");
    name = PyTuple_GET_ITEM(names_, position);
    PyObject* key = PyTuple_GET_ITEM(record, 2);
    if (!PyUnicode_CheckExact(key)) {
        // A ValidationError raised by Django code: its own message and params.
        return checked(PyObject_CallOneArg(render_django_, key));
    }
    Ref held = entry_of(position, key);
    const Entry entry = read_entry(held.get());
    Ref params = params_of(PyTuple_GET_ITEM(record, 3), entry.extra);
    Ref text;
    if (entry.kind == kText) {
        text = Ref::borrow(entry.first);
    } else if (entry.kind == kPlural) {
        text = plural(entry, position, key, params.get());
    }
    if (!text) {
        Ref index = frame::new_size(position);
        PyObject* args[] = {index.get(), key, params ? params.get() : Py_None};
        return checked(PyObject_Vectorcall(render_other_, args, 3, nullptr));
    }
    if (!params) return text;
    if (Ref formatted = Ref::steal(PyUnicode_Format(text.get(), params.get()))) return formatted;
    // A plural text without the placeholder is kept as it is, as Django keeps it.
    if (entry.kind == kPlural && PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        return text;
    }
    frame::throw_fetched();
}

}  // namespace

Ref render_messages(PyObject* records, PyObject* names, PyObject* entries, PyObject* resolve,
                    PyObject* plural_text, PyObject* render_other, PyObject* render_django,
                    bool many) {
    Renderer renderer(names, entries, resolve, plural_text, render_other, render_django);
    Ref shaped = frame::new_dict();
    // Records come row by row: the row's dict is kept while its records last.
    Ref last_row, fields;
    Ref iterator = checked(PyObject_GetIter(records));
    while (Ref record = Ref::steal(PyIter_Next(iterator.get()))) {
        PyObject* name = nullptr;
        Ref message = renderer.message(record.get(), name);
        PyObject* row = PyTuple_GET_ITEM(record.get(), 0);
        if (!many) {
            fields = Ref::borrow(shaped.get());
        } else if (row != last_row.get()) {
            PyObject* known = nullptr;
            if (PyDict_GetItemRef(shaped.get(), row, &known) < 0) frame::throw_fetched();
            fields = known != nullptr ? Ref::steal(known) : frame::new_dict();
            if (known == nullptr) frame::dict_set(shaped.get(), row, fields.get());
            last_row = Ref::borrow(row);
        }
        PyObject* list = nullptr;
        if (PyDict_GetItemRef(fields.get(), name, &list) < 0) frame::throw_fetched();
        Ref messages = list != nullptr ? Ref::steal(list) : frame::new_list();
        if (list == nullptr) frame::dict_set(fields.get(), name, messages.get());
        frame::list_append(messages.get(), message.get());
    }
    if (PyErr_Occurred()) frame::throw_fetched();
    return shaped;
}

}  // namespace sorvel::validation
