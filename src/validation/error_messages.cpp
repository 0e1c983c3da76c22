// The messages of an input plan's error records, shaped as {row: {field: [message, ...]}}:
// what ValidationResult.errors gives. A message is Django's rendering of its template,
// `text % params`, with the template's text in the active language resolved once per plan and
// language by the Python side; the records are walked, their params made and the texts
// formatted here.
#include "validation/error_messages.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

#include "frame/convert.hpp"
#include "frame/error.hpp"

namespace sorvel::validation {
namespace {

using frame::checked;
using frame::Ref;

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

// The record's params (None or a tuple of names and values, checked by the caller) as a dict,
// the message's own params under them; null when there are none (Django then leaves the text
// as it is).
Ref params_of(PyObject* pairs, PyObject* extra) {
    const bool has_extra = extra != Py_None && PyDict_GET_SIZE(extra) > 0;
    if (pairs == Py_None && !has_extra) return {};
    Ref params = has_extra ? checked(PyDict_Copy(extra)) : frame::new_dict();
    if (pairs != Py_None) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(pairs); i += 2)
            frame::dict_set(params.get(), PyTuple_GET_ITEM(pairs, i),
                            PyTuple_GET_ITEM(pairs, i + 1));
    }
    if (PyDict_GET_SIZE(params.get()) == 0) return {};
    return params;
}

// dict.setdefault(key, make()), with make() called only when the key is absent.
template <class Make>
Ref value_or_add(PyObject* dict, PyObject* key, Make&& make) {
    PyObject* known = nullptr;
    if (PyDict_GetItemRef(dict, key, &known) < 0) frame::throw_fetched();
    if (known != nullptr) return Ref::steal(known);
    Ref made = make();
    frame::dict_set(dict, key, made.get());
    return made;
}

// Whether a name of the params, an exact str, reads as text[start, end).
bool names_text(PyObject* name, PyObject* text, Py_ssize_t start, Py_ssize_t end) {
    if (!PyUnicode_Check(name) || PyUnicode_GET_LENGTH(name) != end - start) return false;
    const int kind = PyUnicode_KIND(text), name_kind = PyUnicode_KIND(name);
    const void *data = PyUnicode_DATA(text), *name_data = PyUnicode_DATA(name);
    for (Py_ssize_t i = 0; i < end - start; ++i)
        if (PyUnicode_READ(kind, data, start + i) != PyUnicode_READ(name_kind, name_data, i))
            return false;
    return true;
}

// The value of the param named text[start, end) among the record's (name, value, ...) pairs,
// the last one given winning as in a dict; null when absent.
PyObject* param_in_text(PyObject* pairs, PyObject* text, Py_ssize_t start, Py_ssize_t end) {
    for (Py_ssize_t i = PyTuple_GET_SIZE(pairs) - 2; i >= 0; i -= 2)
        if (names_text(PyTuple_GET_ITEM(pairs, i), text, start, end))
            return PyTuple_GET_ITEM(pairs, i + 1);
    return nullptr;
}

PyObject* param_named(PyObject* pairs, PyObject* name) {
    return param_in_text(pairs, name, 0, PyUnicode_GET_LENGTH(name));
}

// The widest character of text[start, start + length).
Py_UCS4 widest(PyObject* text, Py_ssize_t start, Py_ssize_t length) {
    if (PyUnicode_IS_ASCII(text)) return 0x7f;
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    Py_UCS4 widest = 0;
    for (Py_ssize_t i = start; i < start + length; ++i)
        widest = std::max(widest, PyUnicode_READ(kind, data, i));
    return widest;
}

// The place of the first '%' of text[from, size), or size.
Py_ssize_t next_percent(int kind, const void* data, Py_ssize_t from, Py_ssize_t size) {
    if (kind == PyUnicode_1BYTE_KIND) {
        const char* begin = static_cast<const char*>(data);
        const void* found = std::memchr(begin + from, '%', size_t(size - from));
        return found == nullptr ? size : static_cast<const char*>(found) - begin;
    }
    while (from < size && PyUnicode_READ(kind, data, from) != '%')
        ++from;
    return from;
}

// `text % params` for the forms Django's messages take: %(name)s (str() of any value, as %
// makes it), %(name)d of an exact int, and %%, with the params the record's pairs. Null, and
// no error, for anything else (another conversion, flags or a width, %d of another type, a
// name not given, a str() that raises), which PyUnicode_Format then renders as it would.
Ref format_plain(PyObject* text, PyObject* pairs) {
    // A piece is a run of a str, or (source null) the ASCII digits of an int in `digits`.
    struct Piece {
        PyObject* source;
        Py_ssize_t start, length;
    };
    constexpr size_t kMaxPieces = 16;
    constexpr size_t kMaxValues = kMaxPieces / 2;
    Piece pieces[kMaxPieces];
    Ref shown[kMaxValues];        // str() of the values that need it
    char digits[kMaxValues][24];  // an exact int's text: what str() and %d make of it
    size_t count = 0, values = 0;
    Py_ssize_t total = 0;
    auto add = [&](PyObject* source, Py_ssize_t start, Py_ssize_t length) {
        if (length == 0) return true;
        if (count == kMaxPieces) return false;
        pieces[count++] = Piece{source, start, length};
        total += length;
        return true;
    };
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
    Py_ssize_t literal = 0;
    bool wide_name = false;  // a name holds a character that is not ASCII
    for (Py_ssize_t i = next_percent(kind, data, 0, size); i < size;
         i = next_percent(kind, data, i + 1, size)) {
        if (!add(text, literal, i - literal) || i + 1 == size) return {};
        if (PyUnicode_READ(kind, data, i + 1) == '%') {
            literal = ++i;  // the second '%' starts the next literal
            continue;
        }
        if (PyUnicode_READ(kind, data, i + 1) != '(') return {};
        Py_ssize_t close = i + 2;
        for (; close < size && PyUnicode_READ(kind, data, close) != ')'; ++close) {
            const Py_UCS4 c = PyUnicode_READ(kind, data, close);
            if (c == '(') return {};  // % nests these
            wide_name = wide_name || c >= 0x80;
        }
        if (close + 1 >= size || values == kMaxValues) return {};
        PyObject* value = param_in_text(pairs, text, i + 2, close);
        const Py_UCS4 conversion = PyUnicode_READ(kind, data, close + 1);
        if (value == nullptr ||
            !(conversion == 's' || (conversion == 'd' && PyLong_CheckExact(value))))
            return {};
        const size_t at = values++;
        int overflow = 0;
        long long number = 0;
        if (PyUnicode_CheckExact(value)) {
            if (!add(value, 0, PyUnicode_GET_LENGTH(value))) return {};
        } else if (PyLong_CheckExact(value) &&
                   (number = PyLong_AsLongLongAndOverflow(value, &overflow), !overflow)) {
            char* end = std::to_chars(digits[at], std::end(digits[at]), number).ptr;
            if (!add(nullptr, Py_ssize_t(at), end - digits[at])) return {};
        } else {
            shown[at] = Ref::steal(PyObject_Str(value));
            if (!shown[at]) {
                // Left to PyUnicode_Format, which meets the same error and decides as % does.
                if (!PyErr_ExceptionMatches(PyExc_Exception)) frame::throw_fetched();
                PyErr_Clear();
                return {};
            }
            if (!add(shown[at].get(), 0, PyUnicode_GET_LENGTH(shown[at].get()))) return {};
        }
        i = close + 1;
        literal = i + 1;
    }
    if (!add(text, literal, size - literal)) return {};
    if (count == 1 && pieces[0].source == text && pieces[0].length == size)
        return Ref::borrow(text);
    // The widest character decides the kind, as the canonical form of a str wants. What the
    // literals leave out of the text is ASCII unless a name is not: then the text's widest
    // character is in them.
    Py_UCS4 maxchar = 0x7f;
    for (size_t i = 0; i < count; ++i) {
        const Piece& piece = pieces[i];
        if (piece.source == nullptr)
            continue;
        else if (piece.source != text)
            maxchar = std::max(maxchar, PyUnicode_MAX_CHAR_VALUE(piece.source));
        else if (!wide_name)
            maxchar = std::max(maxchar, PyUnicode_MAX_CHAR_VALUE(text));
        else
            maxchar = std::max(maxchar, widest(text, piece.start, piece.length));
    }
    Ref out = checked(PyUnicode_New(total, maxchar));
    const int out_kind = PyUnicode_KIND(out.get());
    char* out_data = static_cast<char*>(PyUnicode_DATA(out.get()));
    Py_ssize_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const Piece& piece = pieces[i];
        if (piece.source == nullptr) {
            const char* ascii = digits[piece.start];
            for (Py_ssize_t j = 0; j < piece.length; ++j)
                PyUnicode_WRITE(out_kind, out_data, at + j, Py_UCS4(ascii[j]));
        } else if (PyUnicode_KIND(piece.source) == out_kind) {
            const auto* from = static_cast<const char*>(PyUnicode_DATA(piece.source));
            std::memcpy(out_data + at * out_kind, from + piece.start * out_kind,
                        size_t(piece.length) * size_t(out_kind));
        } else if (PyUnicode_CopyCharacters(out.get(), at, piece.source, piece.start,
                                            piece.length) < 0) {
            frame::throw_fetched();
        }
        at += piece.length;
    }
    return out;
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
    Ref plural(const Entry& entry, Py_ssize_t position, PyObject* key, PyObject* number);

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

Ref Renderer::plural(const Entry& entry, Py_ssize_t position, PyObject* key, PyObject* number) {
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
    PyObject* pairs = PyTuple_GET_ITEM(record, 3);
    if (pairs != Py_None && (!PyTuple_Check(pairs) || PyTuple_GET_SIZE(pairs) % 2 != 0))
        frame::throw_type_error("error params must be a tuple of names and values");
    // The params a message adds of its own are merged under the record's in a dict; the
    // record's alone are read from their pairs.
    const bool own_params = entry.extra != Py_None && PyDict_GET_SIZE(entry.extra) > 0;
    Ref params = own_params ? params_of(pairs, entry.extra) : Ref();
    Ref text;
    if (entry.kind == kText) {
        text = Ref::borrow(entry.first);
    } else if (entry.kind == kPlural) {
        PyObject* number = nullptr;
        if (own_params) {
            if (PyDict_GetItemRef(params.get(), entry.first, &number) < 0) frame::throw_fetched();
            Ref found = Ref::steal(number);
            if (found) text = plural(entry, position, key, found.get());
        } else if (pairs != Py_None && (number = param_named(pairs, entry.first)) != nullptr) {
            text = plural(entry, position, key, number);
        }
    }
    if (!text) {
        if (!own_params) params = params_of(pairs, Py_None);
        Ref index = frame::new_size(position);
        PyObject* args[] = {index.get(), key, params ? params.get() : Py_None};
        return checked(PyObject_Vectorcall(render_other_, args, 3, nullptr));
    }
    if (!own_params) {
        // Django leaves the text as it is when there are no params.
        if (pairs == Py_None || PyTuple_GET_SIZE(pairs) == 0) return text;
        if (Ref formatted = format_plain(text.get(), pairs)) return formatted;
        params = params_of(pairs, Py_None);
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
            fields = value_or_add(shaped.get(), row, [] { return frame::new_dict(); });
            last_row = Ref::borrow(row);
        }
        Ref messages = value_or_add(fields.get(), name, [] { return frame::new_list(); });
        frame::list_append(messages.get(), message.get());
    }
    if (PyErr_Occurred()) frame::throw_fetched();
    return shaped;
}

}  // namespace sorvel::validation
