#include "engine/python_names.hpp"

#include "frame/fault.hpp"
#include "frame/once.hpp"

namespace sorvel::engine::names {
namespace {

template <const char* Text>
PyObject* interned() {
    static frame::Once<PyObject*> cell;
    return cell.get([] { return frame::must(PyUnicode_InternFromString(Text)); });
}

constexpr char kIsoformat[] = "isoformat";
constexpr char kDunderStr[] = "__str__";
constexpr char kDumps[] = "dumps";
constexpr char kB64encode[] = "b64encode";
constexpr char kDecode[] = "decode";
constexpr char kAscii[] = "ascii";

}  // namespace

PyObject* isoformat() { return interned<kIsoformat>(); }
PyObject* dunder_str() { return interned<kDunderStr>(); }
PyObject* dumps() { return interned<kDumps>(); }
PyObject* b64encode() { return interned<kB64encode>(); }
PyObject* decode() { return interned<kDecode>(); }
PyObject* ascii() { return interned<kAscii>(); }

}  // namespace sorvel::engine::names
