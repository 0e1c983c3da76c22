#include "frame/arguments.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "frame/error.hpp"

namespace sorvel::frame {
namespace {

std::string callable_name(const ArgumentSpec& spec) {
    std::string name;
    if (spec.class_name != nullptr) {
        name += spec.class_name;
        name += '.';
    }
    name += spec.function;
    name += "()";
    return name;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) text += ',';
            text += ' ';
            if (i + 1 == names.size()) text += "and ";
        }
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

[[noreturn]] void fail(const ArgumentSpec& spec, const std::string& rest) {
    throw_type_error(callable_name(spec) + rest);
}

[[noreturn]] void too_many_positional(const ArgumentSpec& spec, size_t given) {
    const size_t most = spec.positional.size();
    std::string text = " takes ";
    if (spec.required_positional < most) {
        text += "from " + std::to_string(spec.required_positional) + " to ";
    }
    text += std::to_string(most) + " positional arguments but " + std::to_string(given);
    text += given == 1 ? " was given" : " were given";
    fail(spec, text);
}

std::string key_text(PyObject* key) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return object_text(key);
    }
    return std::string(data, size_t(size));
}

bool same_name(PyObject* key, const char* name) {
    return PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, name) == 1;
}

class Extractor {
  public:
    Extractor(const ArgumentSpec& spec, PyObject** slots) : spec_(spec), slots_(slots) {
        for (size_t i = 0; i < spec.slot_count(); ++i)
            slots[i] = nullptr;
    }

    void positional(PyObject* const* args, size_t nargs) {
        if (nargs > spec_.positional.size()) too_many_positional(spec_, nargs);
        for (size_t i = 0; i < nargs; ++i)
            slots_[i] = args[i];
        nargs_ = nargs;
    }

    void keyword(PyObject* key, PyObject* value) {
        const size_t count = spec_.positional.size();
        for (size_t i = 0; i < count; ++i) {
            if (!same_name(key, spec_.positional[i])) continue;
            if (i < spec_.positional_only) {
                positional_only_.push_back(spec_.positional[i]);
                return;
            }
            if (slots_[i] != nullptr) {
                fail(spec_, std::string(" got multiple values for argument '") +
                                spec_.positional[i] + "'");
            }
            slots_[i] = value;
            return;
        }
        for (size_t i = 0; i < spec_.keyword_only.size(); ++i) {
            if (same_name(key, spec_.keyword_only[i].name)) {
                slots_[count + i] = value;
                return;
            }
        }
        fail(spec_, " got an unexpected keyword argument '" + key_text(key) + "'");
    }

    void finish() {
        if (!positional_only_.empty()) {
            fail(spec_, " got some positional-only arguments passed as keyword arguments: " +
                            name_list(positional_only_));
        }
        if (nargs_ < spec_.required_positional) {
            std::vector<std::string> missing;
            for (size_t i = 0; i < spec_.required_positional; ++i) {
                if (slots_[i] == nullptr) missing.emplace_back(spec_.positional[i]);
            }
            if (!missing.empty()) {
                fail(spec_, " missing " + std::to_string(missing.size()) +
                                " required positional argument" +
                                (missing.size() == 1 ? ": " : "s: ") + name_list(missing));
            }
        }
        std::vector<std::string> missing;
        const size_t count = spec_.positional.size();
        for (size_t i = 0; i < spec_.keyword_only.size(); ++i) {
            if (spec_.keyword_only[i].required && slots_[count + i] == nullptr) {
                missing.emplace_back(spec_.keyword_only[i].name);
            }
        }
        if (!missing.empty()) {
            fail(spec_, " missing " + std::to_string(missing.size()) +
                            " required keyword argument" + (missing.size() == 1 ? ": " : "s: ") +
                            name_list(missing));
        }
    }

  private:
    const ArgumentSpec& spec_;
    PyObject** slots_;
    size_t nargs_ = 0;
    std::vector<std::string> positional_only_;
};

}  // namespace

void extract(const ArgumentSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
             PyObject** slots) {
    Extractor extractor(spec, slots);
    extractor.positional(args, size_t(nargs));
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            extractor.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
        }
    }
    extractor.finish();
}

void extract(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, PyObject** slots) {
    Extractor extractor(spec, slots);
    extractor.positional(&PyTuple_GET_ITEM(args, 0), size_t(PyTuple_GET_SIZE(args)));
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &position, &key, &value))
            extractor.keyword(key, value);
    }
    extractor.finish();
}

}  // namespace sorvel::frame
