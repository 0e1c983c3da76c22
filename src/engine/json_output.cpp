#include "engine/json_output.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "frame/error.hpp"

namespace sorvel::engine {

using frame::Ref;

namespace {

// Containers nested this deep are left to the generic road; its parser refuses nesting
// beyond 127, and json.dumps reports cycles in its own way.
constexpr int kDirectDepth = 100;

bool has_surrogate(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    if (kind == PyUnicode_1BYTE_KIND) return false;
    const void* data = PyUnicode_DATA(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) return true;
    }
    return false;
}

// `name` as an interned str, made on first use and kept for the process (null if that failed).
PyObject* interned(const char* name) {
    struct Cell {
        const char* text;
        PyObject* object;
    };
    static Cell cells[32];  // more than the names used here
    for (Cell& cell : cells) {
        if (cell.text == name) return cell.object;
        if (cell.text == nullptr) {
            cell.object = PyUnicode_InternFromString(name);
            if (cell.object == nullptr) {
                frame::discard_error();
                return nullptr;
            }
            cell.text = name;
            return cell.object;
        }
    }
    return nullptr;
}

// dict[name] (borrowed) or null; a failed lookup counts as absent.
PyObject* item(PyObject* dict, const char* name) {
    PyObject* key = interned(name);
    if (dict == nullptr || key == nullptr) return nullptr;
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (found == nullptr && PyErr_Occurred() != nullptr) frame::discard_error();
    return found;
}

std::string_view text_of(PyObject* object) {
    if (object == nullptr || !PyUnicode_Check(object)) return {};
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) {
        frame::discard_error();
        return {};
    }
    return {data, size_t(size)};
}

// Whether `function` is a Python function defined in the file `path`.
bool defined_in(PyObject* function, std::string_view path) {
    if (function == nullptr || !PyFunction_Check(function)) return false;
    auto* code = reinterpret_cast<PyCodeObject*>(PyFunction_GET_CODE(function));
    return text_of(code->co_filename) == path;
}

// What makes json.dumps(value) standard: the objects it depends on.
struct JsonState {
    PyObject* import = nullptr;  // builtins.__import__
    PyObject* json = nullptr;    // sys.modules["json"]
    PyObject* dumps = nullptr;
    PyObject* encoder = nullptr;  // json._default_encoder
    PyObject* encoder_module = nullptr;
    PyObject* make_encoder = nullptr;
    PyObject* basestring_ascii = nullptr;
    PyObject* basestring = nullptr;
    unsigned int encoder_class_version = 0;

    bool operator==(const JsonState&) const = default;
};

// The state last examined and its verdict. It holds references to the objects, so that an
// address cannot be reused by a replacement while it is remembered; it is never destroyed, as
// its references may outlive the interpreter.
struct Seen {
    JsonState state;
    std::vector<Ref> held;
    bool standard = false;
};
Seen& seen() {
    static Seen* instance = new Seen;
    return *instance;
}

// The first look at a set of objects: is each the standard library's own?
bool examine(const JsonState& now) {
    Ref sys_name = Ref::steal(PyUnicode_InternFromString("sys"));
    Ref sys_module = sys_name ? Ref::steal(PyImport_GetModule(sys_name.get())) : Ref();
    PyObject* sys = sys_module.get();
    if (!sys_module) {
        frame::discard_error();
        return false;
    }
    Ref stdlib = Ref::steal(PyObject_GetAttrString(sys, "_stdlib_dir"));
    if (!stdlib) {
        frame::discard_error();
        return false;
    }
    const std::string dir(text_of(stdlib.get()));
    if (dir.empty()) return false;
    if (!PyCFunction_Check(now.import) ||
        std::string_view(reinterpret_cast<PyCFunctionObject*>(now.import)->m_ml->ml_name) !=
            "__import__") {
        return false;
    }
    if (!defined_in(now.dumps, dir + "/json/__init__.py")) return false;
    PyTypeObject* encoder_class = Py_TYPE(now.encoder);
    PyObject* class_dict = encoder_class->tp_dict;
    if (!defined_in(item(class_dict, "encode"), dir + "/json/encoder.py") ||
        !defined_in(item(class_dict, "iterencode"), dir + "/json/encoder.py") ||
        PyModule_GetDict(now.encoder_module) !=
            PyFunction_GET_GLOBALS(item(class_dict, "encode"))) {
        return false;
    }
    // The module-level helpers the encoder calls: the accelerator's or the module's own.
    auto helper = [&](PyObject* function, const char* fallback) {
        if (function == nullptr || function == Py_None) return function != nullptr;
        if (PyCFunction_Check(function)) {
            PyObject* owner = PyCFunction_GET_SELF(function);
            return owner != nullptr && PyModule_Check(owner) &&
                   std::string_view(PyModule_GetName(owner) ? PyModule_GetName(owner) : "") ==
                       "_json";
        }
        if (PyType_Check(function)) {  // _json.make_encoder is a class
            return text_of(item(reinterpret_cast<PyTypeObject*>(function)->tp_dict,
                                "__module__")) == "_json" ||
                   std::string_view(reinterpret_cast<PyTypeObject*>(function)->tp_name) ==
                       "_json.Encoder";
        }
        return defined_in(function, dir + "/json/encoder.py") &&
               std::string_view(fallback) ==
                   text_of(reinterpret_cast<PyFunctionObject*>(function)->func_name);
    };
    if (PyErr_Occurred() != nullptr) frame::discard_error();
    return helper(now.make_encoder, "") &&
           helper(now.basestring_ascii, "py_encode_basestring_ascii") &&
           helper(now.basestring, "py_encode_basestring");
}

// Whether json.dumps is the standard one, unchanged since it was examined.
bool standard_json() {
    JsonState now;
    PyObject* builtins = PyEval_GetBuiltins();
    now.import = item(builtins, "__import__");
    PyObject* json_name = interned("json");
    PyObject* encoder_name = interned("json.encoder");
    if (json_name == nullptr || encoder_name == nullptr) return false;
    Ref json = Ref::steal(PyImport_GetModule(json_name));
    Ref encoder_module = Ref::steal(PyImport_GetModule(encoder_name));
    if (!json || !encoder_module || !PyModule_Check(json.get()) ||
        !PyModule_Check(encoder_module.get())) {
        if (PyErr_Occurred() != nullptr) frame::discard_error();
        return false;
    }
    now.json = json.get();
    now.encoder_module = encoder_module.get();
    PyObject* json_dict = PyModule_GetDict(now.json);
    PyObject* encoder_dict = PyModule_GetDict(now.encoder_module);
    now.dumps = item(json_dict, "dumps");
    now.encoder = item(json_dict, "_default_encoder");
    now.make_encoder = item(encoder_dict, "c_make_encoder");
    now.basestring_ascii = item(encoder_dict, "encode_basestring_ascii");
    now.basestring = item(encoder_dict, "encode_basestring");
    if (now.import == nullptr || now.dumps == nullptr || now.encoder == nullptr) return false;
    PyTypeObject* encoder_class = Py_TYPE(now.encoder);
    if (item(encoder_dict, "JSONEncoder") != reinterpret_cast<PyObject*>(encoder_class)) {
        return false;
    }
    // An instance attribute could replace the encoding methods.
    PyObject** instance_dict = _PyObject_GetDictPtr(now.encoder);
    if (instance_dict == nullptr || *instance_dict == nullptr) return false;
    if (item(*instance_dict, "encode") != nullptr ||
        item(*instance_dict, "iterencode") != nullptr) {
        return false;
    }
    if (PyUnstable_Type_AssignVersionTag(encoder_class) == 0) return false;
    now.encoder_class_version = encoder_class->tp_version_tag;
    Seen& last = seen();
    if (last.state == now) return last.standard;
    const bool standard = examine(now);
    last.held.clear();
    for (PyObject* object : {now.import, now.json, now.dumps, now.encoder, now.encoder_module,
                             now.make_encoder, now.basestring_ascii, now.basestring}) {
        last.held.push_back(Ref::borrow(object));
    }
    last.state = now;
    last.standard = standard;
    return standard;
}

bool key_less(PyObject* a, PyObject* b) { return PyUnicode_Compare(a, b) < 0; }

Ref convert(PyObject* value, int depth);

Ref convert_list(PyObject* list, int depth) {
    const Py_ssize_t size = PyList_GET_SIZE(list);
    Ref result = Ref::steal(PyList_New(size));
    if (!result) frame::throw_fetched();
    for (Py_ssize_t i = 0; i < size; ++i) {
        Ref converted = convert(PyList_GET_ITEM(list, i), depth + 1);
        if (!converted) return Ref();
        PyList_SET_ITEM(result.get(), i, converted.release());
    }
    return result;
}

Ref convert_dict(PyObject* dict, int depth) {
    std::vector<std::pair<PyObject*, PyObject*>> members;
    members.reserve(size_t(PyDict_GET_SIZE(dict)));
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* member = nullptr;
    while (PyDict_Next(dict, &position, &key, &member)) {
        if (!PyUnicode_CheckExact(key) || has_surrogate(key)) return Ref();
        members.emplace_back(key, member);
    }
    std::sort(members.begin(), members.end(),
              [](const auto& a, const auto& b) { return key_less(a.first, b.first); });
    Ref result = Ref::steal(PyDict_New());
    if (!result) frame::throw_fetched();
    for (const auto& [name, item_value] : members) {
        Ref converted = convert(item_value, depth + 1);
        if (!converted) return Ref();
        if (PyDict_SetItem(result.get(), name, converted.get()) < 0) frame::throw_fetched();
    }
    return result;
}

Ref convert(PyObject* value, int depth) {
    if (value == Py_None || value == Py_True || value == Py_False) return Ref::borrow(value);
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type) return has_surrogate(value) ? Ref() : Ref::borrow(value);
    if (type == &PyLong_Type) {
        int overflow = 0;
        const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow != 0 || (number == -1 && PyErr_Occurred() != nullptr)) {
            if (PyErr_Occurred() != nullptr) frame::discard_error();
            return Ref();
        }
        return Ref::borrow(value);
    }
    if (type == &PyFloat_Type) {
        return std::isfinite(PyFloat_AS_DOUBLE(value)) ? Ref::borrow(value) : Ref();
    }
    if (depth >= kDirectDepth) return Ref();
    if (type == &PyList_Type) return convert_list(value, depth);
    if (type == &PyDict_Type) return convert_dict(value, depth);
    return Ref();
}

}  // namespace

Ref json_output(PyObject* value) {
    if (!standard_json()) return Ref();
    return convert(value, 0);
}

}  // namespace sorvel::engine
