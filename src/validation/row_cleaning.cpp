// The per-row path of input plans: each field's value is converted as the model field's
// to_python() converts it, checked as Field.validate() and the field's validators check it, and
// kept in the row's cleaned dict, or its errors are recorded. Values whose outcome only Django
// can decide (unusual text forms, non-ASCII addresses, custom validators) go to the field's
// Python callables; everything else stays here.
#include <Python.h>
#include <datetime.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "frame/convert.hpp"
#include "frame/decimal_parts.hpp"
#include "frame/dict_entries.hpp"
#include "frame/error.hpp"
#include "frame/interned.hpp"
#include "frame/once.hpp"
#include "frame/prefetch.hpp"
#include "frame/uuid_from_bytes.hpp"
#include "text/ip_address.hpp"
#include "text/plain_forms.hpp"
#include "text/web_address.hpp"
#include "validation/input_plan.hpp"

namespace sorvel::validation {
namespace {

using frame::checked;
using frame::Ref;

PyDateTime_CAPI* datetime_api() {
    static frame::Once<PyDateTime_CAPI*> cell;
    return cell.get([] {
        auto* api = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
        if (api == nullptr) frame::throw_fetched();
        return api;
    });
}

// A class of a standard module, looked up once and kept for the life of the process.
PyObject* module_class(const char* module, const char* name) {
    Ref imported = Ref::steal(PyImport_ImportModule(module));
    if (!imported) frame::throw_fetched();
    PyObject* cls = PyObject_GetAttrString(imported.get(), name);
    if (cls == nullptr) frame::throw_fetched();
    return cls;
}

PyObject* decimal_class() {
    static frame::Once<PyObject*> cell;
    return cell.get([] { return module_class("decimal", "Decimal"); });
}

PyObject* uuid_class() {
    static frame::Once<PyObject*> cell;
    return cell.get([] { return module_class("uuid", "UUID"); });
}

// Django's `value in field.empty_values`: None, "", [], () and {}.
bool is_empty(PyObject* value) {
    if (value == Py_None) return true;
    // One test of the type's flags rules out every other value (int, float, Decimal, dates).
    constexpr unsigned long kMayBeEmpty = Py_TPFLAGS_UNICODE_SUBCLASS | Py_TPFLAGS_LIST_SUBCLASS |
                                          Py_TPFLAGS_TUPLE_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS;
    if ((Py_TYPE(value)->tp_flags & kMayBeEmpty) == 0) return false;
    if (PyUnicode_Check(value)) return PyUnicode_GET_LENGTH(value) == 0;
    if (PyList_Check(value)) return PyList_GET_SIZE(value) == 0;
    if (PyTuple_Check(value)) return PyTuple_GET_SIZE(value) == 0;
    if (PyDict_Check(value)) return PyDict_GET_SIZE(value) == 0;
    return false;
}

// Drops the failure of a lookup or a hash, which the rules count as an absent or unequal
// value. An exception that is not an Exception (KeyboardInterrupt, SystemExit, a task's
// CancelledError) is no failure of the value but a demand to stop: it ends the call.
void discard_failure() {
    if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception))
        frame::throw_fetched();
    frame::discard_error();
}

// ASCII text of a str, or nothing for other strings.
std::optional<std::string_view> ascii_of(PyObject* value) {
    if (!PyUnicode_Check(value) || !PyUnicode_IS_ASCII(value)) return std::nullopt;
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(value)),
                            size_t(PyUnicode_GET_LENGTH(value)));
}

// Whether ASCII text holds only what int(text) can accept: digits, signs, underscores and
// whitespace (str.isspace). Anything else is surely a ValueError.
bool may_be_int(std::string_view text) {
    for (char c : text) {
        bool space = c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
        if (!(space || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '_')) return false;
    }
    return !text.empty();
}

// The names of the params of the messages, interned once each (PyDict_SetItemString would
// make and intern the name for every error).
PyObject* param_name(std::string_view name) {
    static frame::Once<PyObject*> value, limit_value, show_value, max;
    if (name == "value") return frame::interned::get(value, "value");
    if (name == "limit_value") return frame::interned::get(limit_value, "limit_value");
    if (name == "show_value") return frame::interned::get(show_value, "show_value");
    if (name == "max") return frame::interned::get(max, "max");
    frame::throw_value_error("unknown message param");
}

// The params of a message as (name, value, name, value, ...): a tuple costs far less to make
// than a dict, and only the rendering of the errors, when asked for, needs the dict.
Ref params(std::initializer_list<std::pair<const char*, PyObject*>> items) {
    Ref pairs = checked(PyTuple_New(Py_ssize_t(2 * items.size())));
    Py_ssize_t at = 0;
    for (auto [name, value] : items) {
        PyTuple_SET_ITEM(pairs.get(), at++, Py_NewRef(param_name(name)));
        PyTuple_SET_ITEM(pairs.get(), at++, Py_NewRef(value));
    }
    return pairs;
}

// Per-call scratch, per field or per dict entry: inline for the usual sizes, so that a call
// that cleans one row makes no heap allocation of its own. Only the elements in use are made
// and destroyed.
template <typename T, size_t kInline>
class Scratch {
  public:
    explicit Scratch(size_t size = 0) { resize(size); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (data_ == inline_data()) std::destroy_n(data_, size_);
    }

    // Grows only; new elements are default-made.
    void resize(size_t size) {
        if (size <= size_) return;
        if (size <= kInline) {
            std::uninitialized_value_construct_n(data_ + size_, size - size_);
        } else {
            if (data_ == inline_data()) {
                spill_.reserve(size);
                for (size_t i = 0; i < size_; ++i)
                    spill_.push_back(std::move(data_[i]));
                std::destroy_n(data_, size_);
            }
            spill_.resize(size);
            data_ = spill_.data();
        }
        size_ = size;
    }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }

  private:
    T* inline_data() { return std::launder(reinterpret_cast<T*>(storage_)); }

    alignas(T) unsigned char storage_[kInline * sizeof(T)];
    std::vector<T> spill_;
    T* data_ = inline_data();
    size_t size_ = 0;
};

// The state of one call: the error records and the row being cleaned.
class Cleaner {
  public:
    explicit Cleaner(const InputPlan& plan)
        : plan_(plan),
          data_(frame::new_list()),
          errors_(frame::new_list()),
          api_(datetime_api()),
          decimal_type_(decimal_class()),
          uuid_type_(uuid_class()),
          raws_(plan.fields.size()),
          values_(plan.fields.size()) {
        // Only this call holds the two lists until they are returned, so no cycle can run
        // through them; untracked meanwhile, the collections that the rows' allocations set
        // off need not walk every row made so far.
        PyObject_GC_UnTrack(data_.get());
        PyObject_GC_UnTrack(errors_.get());
    }

    void clean_row(Py_ssize_t index, PyObject* row);
    Ref result() {
        // Tracked again once complete; see the constructor.
        for (PyObject* list : {data_.get(), errors_.get()})
            if (!PyObject_GC_IsTracked(list)) PyObject_GC_Track(list);
        return checked(PyTuple_Pack(2, data_.get(), errors_.get()));
    }

  private:
    // Reads the row's values into raws_: a walk over an exact dict's entries matches its keys
    // to the fields, by identity once a position's key is known; what that does not find, and
    // other rows, are looked up.
    void gather(PyObject* row);
    bool walk(PyObject* row);
    int field_of(PyObject* key) const;
    Ref cleaned_dict();
    // Cleans one value into values_; whether it was stored there.
    // `owned` is the row's reference to the value: a value kept as it is takes it over.
    bool clean_field(size_t index, Ref& owned);
    void store(size_t index, Ref value) {
        atomic_ = atomic_ && is_atomic(value.get());
        values_[index] = std::move(value);
        ++stored_;
    }
    // Values that hold no reference a cycle could run through: those of classes the collector
    // does not know (str, int, float, bool, None, dates and times) cannot be part of a cycle
    // it could find, and Decimals and UUIDs refer only to such values.
    bool is_atomic(PyObject* value) const {
        PyTypeObject* type = Py_TYPE(value);
        return !PyType_IS_GC(type) || type == reinterpret_cast<PyTypeObject*>(decimal_type_) ||
               type == reinterpret_cast<PyTypeObject*>(uuid_type_);
    }
    // Converts like to_python(); null when an error was recorded.
    Ref convert(size_t index, const FieldPlan& field, Ref& owned);
    Ref call_convert(size_t index, PyObject* callable, PyObject* raw);
    bool run_checks(size_t index, const FieldPlan& field, PyObject* value);
    bool run_check(size_t index, const Check& check, PyObject* value);
    bool surely_passes(const Check& check, PyObject* value) const;
    bool is_json(PyObject* value, int depth);

    void add_error(size_t field, PyObject* key, PyObject* params);
    void add_errors(size_t field, PyObject* list);
    // A ValidationError of Django code, or a list of them.
    void add_outcome(size_t field, PyObject* outcome) {
        if (PyList_Check(outcome)) {
            add_errors(field, outcome);
        } else {
            add_error(field, outcome, nullptr);
        }
    }
    void add_invalid(size_t field, PyObject* raw) {
        Ref p = params({{"value", raw}});
        add_error(field, invalid_key(), p.get());
    }
    static PyObject* invalid_key() {
        static frame::Once<PyObject*> cell;
        return cell.get([] { return PyUnicode_InternFromString("invalid"); });
    }
    static PyObject* key_named(const char* name);

    const InputPlan& plan_;
    Ref data_, errors_;
    PyDateTime_CAPI* api_;
    PyObject* decimal_type_;
    PyObject* uuid_type_;
    Ref row_index_;
    std::optional<text::DecimalShape> decimal_shape_;  // of the decimal just read from text
    static constexpr size_t kInlineFields = 32;
    Scratch<Ref, kInlineFields> raws_;    // per field, the row's value (null when absent)
    Scratch<Ref, kInlineFields> values_;  // per field, the cleaned value (null when not stored)
    // Per entry position of the rows' dicts, the key found there in the last row and the field
    // it names (kNoField for a key that names none, such as a body's extra "id"). The key is
    // held, so an equal pointer is that key: json.loads makes one str per distinct key of a
    // document, so its rows share the keys learned from the first.
    static constexpr size_t kNoField = SIZE_MAX;
    struct Slot {
        Ref key;
        size_t field = kNoField;
    };
    Scratch<Slot, kInlineFields> layout_;
    bool walking_ = true;  // off after rows in a row whose keys matched no field
    int misses_ = 0;
    bool atomic_ = true;  // the row holds no container
    size_t stored_ = 0;   // values stored for the row
    Py_ssize_t row_ = 0;
    bool row_failed_ = false;
};

PyObject* Cleaner::key_named(const char* name) {
    // The three field-level message keys of Field.validate(), interned once each.
    static frame::Once<PyObject*> null_key, blank_key, choice_key;
    std::string_view n = name;
    auto make = [name] { return PyUnicode_InternFromString(name); };
    if (n == "null") return null_key.get(make);
    if (n == "blank") return blank_key.get(make);
    if (n == "invalid_choice") return choice_key.get(make);
    frame::throw_value_error("unknown field message key");
}

void Cleaner::add_error(size_t field, PyObject* key, PyObject* params) {
    if (!row_index_) row_index_ = frame::new_size(row_);
    Ref record = checked(PyTuple_New(4));
    PyTuple_SET_ITEM(record.get(), 0, Py_NewRef(row_index_.get()));
    PyTuple_SET_ITEM(record.get(), 1, frame::new_size(Py_ssize_t(field)).release());
    PyTuple_SET_ITEM(record.get(), 2, Py_NewRef(key));
    PyTuple_SET_ITEM(record.get(), 3, Py_NewRef(params != nullptr ? params : Py_None));
    frame::list_append(errors_.get(), record.get());
    row_failed_ = true;
}

void Cleaner::add_errors(size_t field, PyObject* list) {
    Ref iterator = checked(PyObject_GetIter(list));
    while (Ref error = Ref::steal(PyIter_Next(iterator.get())))
        add_error(field, error.get(), nullptr);
    if (PyErr_Occurred()) frame::throw_fetched();
}

// (value, None) or (None, ValidationError) from a Python callable of the plan.
Ref Cleaner::call_convert(size_t index, PyObject* callable, PyObject* raw) {
    Ref outcome = checked(PyObject_CallOneArg(callable, raw));
    if (!PyTuple_Check(outcome.get()) || PyTuple_GET_SIZE(outcome.get()) != 2)
        frame::throw_type_error("an input plan callable must return a pair");
    PyObject* error = PyTuple_GET_ITEM(outcome.get(), 1);
    if (error != Py_None) {
        add_outcome(index, error);
        return {};
    }
    return Ref::borrow(PyTuple_GET_ITEM(outcome.get(), 0));
}

Ref make_datetime(const text::PlainDateTime& parsed, PyDateTime_CAPI* api) {
    Ref tz = Ref::borrow(Py_None);
    if (parsed.has_offset) {
        if (parsed.offset_minutes == 0) {
            tz = Ref::borrow(api->TimeZone_UTC);
        } else {
            Ref delta =
                checked(api->Delta_FromDelta(0, parsed.offset_minutes * 60, 0, 1, api->DeltaType));
            tz = checked(api->TimeZone_FromTimeZone(delta.get(), nullptr));
        }
    }
    const auto& d = parsed.date;
    const auto& t = parsed.time;
    return checked(api->DateTime_FromDateAndTime(d.year, d.month, d.day, t.hour, t.minute, t.second,
                                                 t.microsecond, tz.get(), api->DateTimeType));
}

Ref Cleaner::convert(size_t index, const FieldPlan& field, Ref& owned) {
    PyObject* raw = owned.get();
    switch (field.kind) {
        case Kind::text:
            if (raw == Py_None || PyUnicode_Check(raw)) return std::move(owned);
            break;
        case Kind::integer:
            if (raw == Py_None || PyLong_CheckExact(raw)) return std::move(owned);
            if (PyUnicode_CheckExact(raw)) {
                // ASCII text with a character int() never takes is refused without building
                // the ValueError that int() would raise.
                if (auto ascii = ascii_of(raw); ascii && !may_be_int(*ascii)) {
                    add_invalid(index, raw);
                    return {};
                }
                // int(text) is PyLong_FromUnicodeObject; only its ValueError is the field's.
                if (Ref number = Ref::steal(PyLong_FromUnicodeObject(raw, 10))) return number;
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) frame::throw_fetched();
                PyErr_Clear();
                add_invalid(index, raw);
                return {};
            }
            break;
        case Kind::floating:
            if (raw == Py_None || PyFloat_CheckExact(raw)) return std::move(owned);
            if (PyUnicode_CheckExact(raw)) {
                if (Ref number = Ref::steal(PyFloat_FromString(raw))) return number;
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) frame::throw_fetched();
                PyErr_Clear();
                add_invalid(index, raw);
                return {};
            }
            if (PyLong_CheckExact(raw)) {
                double value = PyLong_AsDouble(raw);
                if (value == -1.0 && PyErr_Occurred()) {
                    PyErr_Clear();
                    break;  // too large for a float: Django's to_python says what happens
                }
                return frame::new_float(value);
            }
            break;
        case Kind::decimal:
            if (raw == Py_None || Py_TYPE(raw) == reinterpret_cast<PyTypeObject*>(decimal_type_))
                return std::move(owned);
            if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (auto shape = text::parse_decimal_shape(*ascii)) {
                    // Decimal(text) of this plain form is exact: the same object made from its
                    // parts, or by Decimal itself when they do not fit.
                    Ref number;
                    if (shape->digits <= text::kDecimalWordDigits)
                        number = frame::decimal_from_parts(decimal_type_, shape->negative,
                                                           shape->coefficient, shape->exponent);
                    if (!number) number = checked(PyObject_CallOneArg(decimal_type_, raw));
                    decimal_shape_ = *shape;  // what the digit check would read back from str()
                    return number;
                }
            }
            break;
        case Kind::boolean:
            if (raw == Py_True || raw == Py_False) return std::move(owned);
            if (field.null && is_empty(raw)) return Ref::borrow(Py_None);
            if (PyLong_CheckExact(raw)) {
                int overflow = 0;
                long long number = PyLong_AsLongLongAndOverflow(raw, &overflow);
                if (overflow == 0 && (number == 0 || number == 1))
                    return Ref::borrow(number == 1 ? Py_True : Py_False);
            } else if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (*ascii == "t" || *ascii == "True" || *ascii == "1") return Ref::borrow(Py_True);
                if (*ascii == "f" || *ascii == "False" || *ascii == "0")
                    return Ref::borrow(Py_False);
            }
            break;
        case Kind::date: {
            auto* api = api_;
            if (raw == Py_None || Py_TYPE(raw) == api->DateType) return std::move(owned);
            if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (auto date = text::parse_plain_date(*ascii))
                    return checked(
                        api->Date_FromDate(date->year, date->month, date->day, api->DateType));
            }
            break;
        }
        case Kind::datetime: {
            auto* api = api_;
            if (raw == Py_None || Py_TYPE(raw) == api->DateTimeType) return std::move(owned);
            if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (auto parsed = text::parse_plain_datetime(*ascii))
                    return make_datetime(*parsed, api);
            }
            break;
        }
        case Kind::time: {
            auto* api = api_;
            if (raw == Py_None || Py_TYPE(raw) == api->TimeType) return std::move(owned);
            if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (auto t = text::parse_plain_time(*ascii))
                    return checked(api->Time_FromTime(t->hour, t->minute, t->second, t->microsecond,
                                                      Py_None, api->TimeType));
            }
            break;
        }
        case Kind::uuid:
            if (raw == Py_None || Py_TYPE(raw) == reinterpret_cast<PyTypeObject*>(uuid_type_))
                return std::move(owned);
            if (auto ascii = ascii_of(raw); ascii && PyUnicode_CheckExact(raw)) {
                if (auto bytes = text::parse_plain_uuid(*ascii))
                    return frame::uuid_from_bytes(uuid_type_, *bytes);
            }
            break;
        case Kind::json:
        case Kind::identity:
            return std::move(owned);
        case Kind::python:
        case Kind::slow:
            break;
    }
    return call_convert(index, field.convert.get(), raw);
}

// Whether json.dumps() surely accepts the value; false also for what only it can decide.
bool Cleaner::is_json(PyObject* value, int depth) {
    if (depth > 64) return false;
    if (value == Py_None || PyUnicode_Check(value) || PyLong_Check(value) || PyFloat_Check(value))
        return true;
    if (PyList_Check(value) || PyTuple_Check(value)) {
        Py_ssize_t size = PySequence_Fast_GET_SIZE(value);
        for (Py_ssize_t i = 0; i < size; ++i)
            if (!is_json(PySequence_Fast_GET_ITEM(value, i), depth + 1)) return false;
        return true;
    }
    if (PyDict_Check(value)) {
        Py_ssize_t position = 0;
        PyObject *key, *item;
        while (PyDict_Next(value, &position, &key, &item)) {
            bool plain_key =
                key == Py_None || PyUnicode_Check(key) || PyLong_Check(key) || PyFloat_Check(key);
            if (!plain_key || !is_json(item, depth + 1)) return false;
        }
        return true;
    }
    return false;
}

// Django's DecimalValidator on the value's coefficient and exponent.
bool check_decimal(const Check& check, const text::DecimalShape& shape, PyObject*& key,
                   int64_t& limit) {
    int64_t digits, decimals;
    if (shape.exponent >= 0) {
        digits = shape.digits + (shape.zero ? 0 : shape.exponent);
        decimals = 0;
    } else if (-shape.exponent > shape.digits) {
        digits = decimals = -shape.exponent;
    } else {
        digits = shape.digits;
        decimals = -shape.exponent;
    }
    if (check.max_digits >= 0 && digits > check.max_digits) {
        key = check.key.get();
        limit = check.max_digits;
        return false;
    }
    if (check.decimal_places >= 0 && decimals > check.decimal_places) {
        key = check.places_key.get();
        limit = check.decimal_places;
        return false;
    }
    if (check.max_digits >= 0 && check.decimal_places >= 0 &&
        digits - decimals > check.max_digits - check.decimal_places) {
        key = check.whole_key.get();
        limit = check.max_digits - check.decimal_places;
        return false;
    }
    return true;
}

// < 0 when value < limit, > 0 when above, 0 otherwise; compared as Python compares.
int compare_limit(const Check& check, PyObject* value, int op) {
    if (check.limit_is_int && PyLong_CheckExact(value)) {
        int overflow = 0;
        long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow == 0) return op == Py_LT ? number < check.limit_int : number > check.limit_int;
    }
    int outcome = PyObject_RichCompareBool(value, check.limit.get(), op);
    if (outcome < 0) frame::throw_fetched();
    return outcome;
}

// Whether the check surely passes, decided inline for the usual values (a str within its
// length, a small int within its limit, a decimal read from text within its digits); false
// leaves the verdict, and any error record, to run_check.
bool Cleaner::surely_passes(const Check& check, PyObject* value) const {
    switch (check.kind) {
        case CheckKind::max_length:
            return PyUnicode_CheckExact(value) && PyUnicode_GET_LENGTH(value) <= check.size;
        case CheckKind::min_value:
        case CheckKind::max_value: {
            if (!check.limit_is_int || !PyLong_CheckExact(value)) return false;
            auto* number = reinterpret_cast<PyLongObject*>(value);
            if (!PyUnstable_Long_IsCompact(number)) return false;
            const Py_ssize_t compact = PyUnstable_Long_CompactValue(number);
            return check.kind == CheckKind::min_value ? compact >= check.limit_int
                                                      : compact <= check.limit_int;
        }
        case CheckKind::decimal: {
            if (!decimal_shape_) return false;
            PyObject* key = nullptr;
            int64_t limit = 0;
            return check_decimal(check, *decimal_shape_, key, limit);
        }
        default:
            return false;
    }
}

bool Cleaner::run_check(size_t index, const Check& check, PyObject* value) {
    switch (check.kind) {
        case CheckKind::max_length:
        case CheckKind::min_length: {
            Py_ssize_t length =
                PyUnicode_Check(value) ? PyUnicode_GET_LENGTH(value) : PyObject_Length(value);
            if (length < 0) frame::throw_fetched();
            bool bad =
                check.kind == CheckKind::max_length ? length > check.size : length < check.size;
            if (!bad) return true;
            Ref limit = frame::new_int(check.size), shown = frame::new_size(length);
            Ref p = params(
                {{"limit_value", limit.get()}, {"show_value", shown.get()}, {"value", value}});
            add_error(index, check.key.get(), p.get());
            return false;
        }
        case CheckKind::min_value:
        case CheckKind::max_value: {
            int op = check.kind == CheckKind::min_value ? Py_LT : Py_GT;
            if (!compare_limit(check, value, op)) return true;
            Ref p = params(
                {{"limit_value", check.limit.get()}, {"show_value", value}, {"value", value}});
            add_error(index, check.key.get(), p.get());
            return false;
        }
        case CheckKind::decimal: {
            std::optional<text::DecimalShape> shape = decimal_shape_;
            if (!shape) {
                Ref text = checked(PyObject_Str(value));
                auto ascii = ascii_of(text.get());
                if (ascii) shape = text::parse_decimal_shape(*ascii);
            }
            if (!shape) break;  // not finite: the validator itself reports it
            PyObject* key = nullptr;
            int64_t limit = 0;
            if (check_decimal(check, *shape, key, limit)) return true;
            Ref max = frame::new_int(limit);
            Ref p = params({{"max", max.get()}, {"value", value}});
            add_error(index, key, p.get());
            return false;
        }
        case CheckKind::email:
        case CheckKind::url:
        case CheckKind::slug:
        case CheckKind::ipv46: {
            auto ascii = ascii_of(value);
            bool valid;
            if (ascii) {
                switch (check.kind) {
                    case CheckKind::email:
                        valid = text::is_email_address(*ascii, check.words);
                        break;
                    case CheckKind::url:
                        valid = text::is_url(*ascii, check.words);
                        break;
                    case CheckKind::slug:
                        valid = text::is_slug(*ascii);
                        break;
                    default:
                        valid = text::is_ipv46_address(*ascii);
                        break;
                }
            } else if (check.kind == CheckKind::slug && PyUnicode_Check(value)) {
                valid = false;  // the slug pattern is ASCII only
            } else {
                break;
            }
            if (valid) return true;
            Ref p = params({{"value", value}});
            add_error(index, check.key.get(), p.get());
            return false;
        }
    }
    // Left to the Django validator itself: it answers a ValidationError or None.
    if (!check.fallback) frame::throw_value_error("input plan check has no fallback validator");
    Ref error = checked(PyObject_CallOneArg(check.fallback.get(), value));
    if (error.get() == Py_None) return true;
    add_outcome(index, error.get());
    return false;
}

bool Cleaner::run_checks(size_t index, const FieldPlan& field, PyObject* value) {
    if (field.validators) {
        Ref errors = checked(PyObject_CallOneArg(field.validators.get(), value));
        if (PyObject_IsTrue(errors.get()) == 0) return true;
        add_errors(index, errors.get());
        return false;
    }
    bool ok = true;
    for (const Check& check : field.checks)
        ok = (surely_passes(check, value) || run_check(index, check, value)) && ok;
    return ok;
}

bool Cleaner::clean_field(size_t index, Ref& owned) {
    PyObject* raw = owned.get();
    const FieldPlan& field = plan_.fields[index];
    const bool plain = field.plain;
    Ref value;
    if (!plain) {
        if (field.kind == Kind::slow) {
            value = call_convert(index, field.clean.get(), raw);
            if (!value) return false;
            store(index, std::move(value));
            return true;
        }
        // clean_fields() leaves empty values of blank fields as they are.
        if (field.blank && is_empty(raw)) {
            store(index, std::move(owned));
            return true;
        }
    }
    decimal_shape_.reset();
    value = convert(index, field, owned);
    if (!value) return false;
    PyObject* v = value.get();
    if (plain) {
        if (is_empty(v)) {
            // None of a nullable field is still empty: Field.validate() says blank.
            add_error(index, key_named(v == Py_None && !field.null ? "null" : "blank"), nullptr);
            return false;
        }
        // run_checks decides, and records, only when a check does not surely pass.
        for (const Check& check : field.checks) {
            if (!surely_passes(check, v)) {
                if (!run_checks(index, field, v)) return false;
                break;
            }
        }
        store(index, std::move(value));
        return true;
    }
    // Field.validate(): choices, then null, then blank, for editable fields.
    bool chosen = false;
    if (field.editable) {
        if (field.choices && !is_empty(v)) {
            // An unhashable value equals none of the (hashable) choices.
            int found = 0;
            if (PyObject_Hash(v) == -1) {
                discard_failure();
            } else if ((found = PySet_Contains(field.choices.get(), v)) < 0) {
                frame::throw_fetched();
            }
            if (found == 0) {
                Ref p = params({{"value", v}});
                add_error(index, key_named("invalid_choice"), p.get());
                return false;
            }
            chosen = true;
        }
        if (!chosen && v == Py_None && !field.null) {
            add_error(index, key_named("null"), nullptr);
            return false;
        }
        if (!chosen && !field.blank && is_empty(v)) {
            add_error(index, key_named("blank"), nullptr);
            return false;
        }
    }
    if (field.kind == Kind::json && !is_json(v, 0)) {
        Ref error = checked(PyObject_CallOneArg(field.json_check.get(), v));
        if (error.get() != Py_None) {
            add_outcome(index, error.get());
            return false;
        }
    }
    if (!is_empty(v) && !run_checks(index, field, v)) return false;
    store(index, std::move(value));
    return true;
}

// Whether two exact strs hold the same text: as str.__eq__ decides it, for the canonical form
// of an exact str fixes its kind; cached hashes that differ settle it at once.
bool same_text(PyObject* a, PyObject* b) {
    const Py_hash_t ha = reinterpret_cast<PyASCIIObject*>(a)->hash;
    const Py_hash_t hb = reinterpret_cast<PyASCIIObject*>(b)->hash;
    if (ha != -1 && hb != -1 && ha != hb) return false;
    const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    return length == PyUnicode_GET_LENGTH(b) && PyUnicode_KIND(a) == PyUnicode_KIND(b) &&
           std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), size_t(length) * PyUnicode_KIND(a)) ==
               0;
}

int Cleaner::field_of(PyObject* key) const {
    const size_t count = plan_.fields.size();
    for (size_t i = 0; i < count; ++i)
        if (plan_.fields[i].key.get() == key) return int(i);
    // A key made at run time, equal to a field's name (field keys are exact strs).
    for (size_t i = 0; i < count; ++i)
        if (same_text(plan_.fields[i].key.get(), key)) return int(i);
    return -1;
}

bool Cleaner::walk(PyObject* row) {
    // No Python code runs during the walk, so the dict cannot change under it; the values are
    // taken as strong references before any field is cleaned.
    size_t slot = 0;
    bool matched = false;
    auto take = [&](PyObject* key, PyObject* value) {
        Slot& known = layout_[slot++];
        if (known.key.get() != key) {
            // A key of another type might equal a field's name: such rows are looked up.
            if (!PyUnicode_CheckExact(key)) return false;
            const int field = field_of(key);
            known = Slot{Ref::borrow(key), field < 0 ? kNoField : size_t(field)};
        }
        if (known.field == kNoField) return true;
        matched = true;
        if (!raws_[known.field]) raws_[known.field] = Ref::borrow(value);
        return true;
    };
    if (frame::DictEntries table = frame::str_key_entries(row); table.readable) {
        layout_.resize(size_t(table.count));
        for (Py_ssize_t i = 0; i < table.count; ++i)
            if (table.entries[i].value != nullptr)
                take(table.entries[i].key, table.entries[i].value);
    } else {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(row, &position, &key, &value)) {
            layout_.resize(slot + 1);
            if (!take(key, value)) return false;
        }
    }
    // Rows whose keys name no field at all: stop walking them.
    misses_ = matched ? 0 : misses_ + (slot > 0);
    if (misses_ == 8) walking_ = false;
    return true;
}

void Cleaner::gather(PyObject* row) {
    // A dict is read by key (a subclass, such as Django's QueryDict, through its own
    // __getitem__); anything else is an instance, read by attribute.
    const bool exact_dict = PyDict_CheckExact(row);
    if (exact_dict && walking_ && !walk(row)) {
        for (Ref& raw : raws_)
            raw = Ref();
    }
    const bool mapping = exact_dict || PyDict_Check(row);
    const size_t count = plan_.fields.size();
    for (size_t i = 0; i < count; ++i) {
        if (raws_[i]) continue;
        const FieldPlan& field = plan_.fields[i];
        PyObject* found = nullptr;
        if (exact_dict) {
            // Found by equality, not identity (a key made at run time), or absent.
            if (PyDict_GetItemRef(row, field.key.get(), &found) < 0) frame::throw_fetched();
        } else {
            // A failing lookup (KeyError, AttributeError) counts as an absent value.
            found = mapping ? PyObject_GetItem(row, field.key.get())
                            : PyObject_GetAttr(row, field.attname.get());
            if (found == nullptr) discard_failure();
        }
        raws_[i] = Ref::steal(found);
    }
}

// The row's cleaned dict. A dict of atomic values cannot be part of a cycle, so it is left
// untracked by the collector; the interpreter would untrack it itself, but only after it had
// survived a collection.
Ref Cleaner::cleaned_dict() {
    const size_t count = values_.size();
    if (stored_ == count && plan_.output) {
        frame::DictTemplate::Fill fill = plan_.output->start();
        // The dict takes the references over; values_ is empty for the next row.
        for (size_t i = 0; i < count; ++i)
            fill.set(i, std::move(values_[i]));
        return fill.done(atomic_);
    }
    Ref out = frame::new_dict();
    for (size_t i = 0; i < count; ++i)
        if (values_[i]) frame::dict_set(out.get(), plan_.fields[i].attname.get(), values_[i].get());
    // Released once the dict holds its own references; values_ is empty for the next row.
    for (Ref& value : values_)
        value = Ref();
    if (atomic_ && PyObject_GC_IsTracked(out.get())) PyObject_GC_UnTrack(out.get());
    return out;
}

void Cleaner::clean_row(Py_ssize_t index, PyObject* row) {
    row_ = index;
    row_index_ = Ref();
    row_failed_ = false;
    atomic_ = true;
    stored_ = 0;
    gather(row);
    const size_t count = plan_.fields.size();
    for (size_t i = 0; i < count; ++i) {
        // Taken out, so that raws_ is empty again for the next row.
        Ref raw = std::move(raws_[i]);
        if (!raw) {
            if (plan_.fields[i].missing) add_errors(i, plan_.fields[i].missing.get());
            continue;
        }
        clean_field(i, raw);
    }
    if (row_failed_) {
        for (Ref& value : values_)
            value = Ref();
        return;
    }
    frame::list_append(data_.get(), cleaned_dict().get());
}

}  // namespace

Ref validate_rows(const InputPlan& plan, PyObject* rows) {
    Cleaner cleaner(plan);
    if (PyList_Check(rows)) {
        // Indexed, not borrowed: a Python callable of the plan may change the list. The rows
        // of a large request lie in more memory than the caches hold, and each is read through
        // its dict, then its table, then its values: each step is asked for a row before the
        // next needs it.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(rows); ++i) {
            const Py_ssize_t length = PyList_GET_SIZE(rows);
            if (i + 3 < length) frame::prefetch_object(PyList_GET_ITEM(rows, i + 3));
            if (i + 2 < length) frame::prefetch_dict_table(PyList_GET_ITEM(rows, i + 2));
            if (i + 1 < length) frame::prefetch_dict_values(PyList_GET_ITEM(rows, i + 1));
            Ref row = checked(PyList_GetItemRef(rows, i));
            cleaner.clean_row(i, row.get());
        }
    } else {
        Ref iterator = checked(PyObject_GetIter(rows));
        Py_ssize_t i = 0;
        while (Ref row = Ref::steal(PyIter_Next(iterator.get())))
            cleaner.clean_row(i++, row.get());
        if (PyErr_Occurred()) frame::throw_fetched();
    }
    return cleaner.result();
}

}  // namespace sorvel::validation
