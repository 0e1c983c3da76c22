#include "engine/decimal_text.hpp"

#include <atomic>

#include "engine/python_names.hpp"
#include "frame/error.hpp"
#include "frame/ref.hpp"
#include "text/decimal.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

// decimal.Decimal once the decimal module is loaded (a Decimal cannot exist before), else null.
// Kept for the life of the process. The lookup can run Python code (a sys.modules entry is any
// object), so no lock is held while it runs: two threads may both look, one result is kept.
PyTypeObject* decimal_type() {
    static std::atomic<PyObject*> known{nullptr};
    if (PyObject* cls = known.load(std::memory_order_acquire)) {
        return reinterpret_cast<PyTypeObject*>(cls);
    }
    Ref module = Ref::steal(PyImport_GetModule(names::decimal()));
    if (!module) {
        frame::discard_error();
        return nullptr;
    }
    Ref cls = Ref::steal(PyObject_GetAttr(module.get(), names::Decimal()));
    if (!cls || !PyType_Check(cls.get())) {
        frame::discard_error();
        return nullptr;
    }
    PyObject* expected = nullptr;
    if (known.compare_exchange_strong(expected, cls.get(), std::memory_order_acq_rel)) {
        return reinterpret_cast<PyTypeObject*>(cls.release());
    }
    return reinterpret_cast<PyTypeObject*>(expected);
}

}  // namespace

std::string_view decimal_reading_text(PyObject* value, std::string_view str_text,
                                      std::string& storage) {
    if (str_text.find_first_of("Ee") == std::string_view::npos) return str_text;
    PyTypeObject* decimal = decimal_type();
    if (decimal == nullptr || !PyObject_TypeCheck(value, decimal)) return str_text;
    auto positional = text::positional_decimal_text(str_text);
    if (!positional) return str_text;
    storage = std::move(*positional);
    return storage;
}

}  // namespace sorvel::engine
