#include "engine/direct_output.hpp"

#include <cmath>

#include "engine/exact_values.hpp"
#include "engine/json_output.hpp"
#include "engine/standard_types.hpp"
#include "frame/convert.hpp"
#include "frame/error.hpp"
#include "text/uuid.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

// Whether a str holds a lone surrogate, which has no UTF-8 form; one- and two-byte kinds are
// scanned without encoding.
bool has_surrogate(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return false;
        case PyUnicode_2BYTE_KIND: {
            const Py_UCS2* data = PyUnicode_2BYTE_DATA(text);
            for (Py_ssize_t i = 0; i < length; ++i) {
                if ((data[i] & 0xF800) == 0xD800) return true;
            }
            return false;
        }
        default: {
            const Py_UCS4* data = PyUnicode_4BYTE_DATA(text);
            for (Py_ssize_t i = 0; i < length; ++i) {
                if ((data[i] & 0xFFFFF800) == 0xD800) return true;
            }
            return false;
        }
    }
}

bool fits_i64(PyObject* number) {
    if (PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(number))) return true;
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number, &overflow);
    if (value == -1 && PyErr_Occurred() != nullptr) {
        frame::discard_error();
        return false;
    }
    return overflow == 0;
}

// The text form into `out`, or null when the generic road must answer.
char* write_form(OutputForm form, PyObject* value, char* out) {
    switch (form) {
        case OutputForm::Decimal: {
            const auto decimal = exact_decimal(value);
            return decimal ? text::write_decimal(out, *decimal) : nullptr;
        }
        case OutputForm::DateTime: {
            const auto datetime = exact_datetime(value);
            // RFC 3339 has four-digit years only; the generic road reports the others.
            if (!datetime || datetime->date.year < 1 || datetime->date.year > 9999) return nullptr;
            return text::write_datetime_utc(out, *datetime);
        }
        case OutputForm::Date: {
            const auto date = exact_date(value);
            return date ? text::write_date(out, *date) : nullptr;
        }
        case OutputForm::Time: {
            const auto time = exact_time(value);
            return time ? text::write_time(out, *time) : nullptr;
        }
        case OutputForm::Uuid: {
            const auto uuid = exact_uuid_fast(value);
            return uuid ? text::put_uuid(out, *uuid) : nullptr;
        }
        default:
            return nullptr;
    }
}

Ref base64_text(PyObject* value) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!bytes_content(value, data, size)) return Ref();
    const size_t length = text::base64_length(size);
    if (length > size_t(PY_SSIZE_T_MAX)) return Ref();
    Ref result = Ref::steal(PyUnicode_New(Py_ssize_t(length), 127));
    if (!result) frame::throw_fetched();
    text::write_base64(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result.get())), data, size);
    return result;
}

}  // namespace

OutputForm output_form(const FieldKind& kind) {
    switch (kind.index()) {
        case kind_index<StrKind>:
            return OutputForm::Text;
        case kind_index<IntKind>:
            return OutputForm::Integer;
        case kind_index<FloatKind>:
            return OutputForm::Float;
        case kind_index<BoolKind>:
            return OutputForm::Boolean;
        case kind_index<DecimalKind>:
            return OutputForm::Decimal;
        case kind_index<DateTimeKind>:
            return OutputForm::DateTime;
        case kind_index<DateKind>:
            return OutputForm::Date;
        case kind_index<TimeKind>:
            return OutputForm::Time;
        case kind_index<UuidKind>:
            return OutputForm::Uuid;
        case kind_index<ListKind>:
        case kind_index<DictKind>:
            return OutputForm::Json;
        default:
            return OutputForm::Bytes;
    }
}

bool bytes_content(PyObject* value, const uint8_t*& data, size_t& size) {
    if (PyBytes_Check(value)) {
        data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(value));
        size = size_t(PyBytes_GET_SIZE(value));
        return true;
    }
    if (PyByteArray_Check(value)) {
        data = reinterpret_cast<const uint8_t*>(PyByteArray_AS_STRING(value));
        size = size_t(PyByteArray_GET_SIZE(value));
        return true;
    }
    return false;
}

ptrdiff_t write_text_form(OutputForm form, PyObject* value, char* out) {
    char* end = write_form(form, value, out);
    return end == nullptr ? -1 : end - out;
}

Ref direct_output(OutputForm form, PyObject* value) {
    switch (form) {
        case OutputForm::Text:
            if (PyUnicode_CheckExact(value) && !has_surrogate(value)) return Ref::borrow(value);
            return Ref();
        case OutputForm::Integer:
            if (PyLong_CheckExact(value) && fits_i64(value)) return Ref::borrow(value);
            return Ref();
        case OutputForm::Float:
            if (PyFloat_CheckExact(value) && std::isfinite(PyFloat_AS_DOUBLE(value))) {
                return Ref::borrow(value);
            }
            return Ref();
        case OutputForm::Boolean:
            if (value == Py_True || value == Py_False) return Ref::borrow(value);
            return Ref();
        case OutputForm::Json:
            return json_output(value);
        case OutputForm::Bytes:
            return base64_text(value);
        default: {
            char buf[text::kMaxTextForm];
            char* end = write_form(form, value, buf);
            if (end == nullptr) return Ref();
            return frame::new_ascii(buf, size_t(end - buf));
        }
    }
}

}  // namespace sorvel::engine
