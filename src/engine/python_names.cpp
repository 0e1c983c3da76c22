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
constexpr char kUtcoffset[] = "utcoffset";
constexpr char kInt[] = "int";
constexpr char kJson[] = "json";
constexpr char kBase64[] = "base64";
constexpr char kUuid[] = "uuid";
constexpr char kDecimalModule[] = "decimal";
constexpr char kDecimal[] = "Decimal";

}  // namespace

PyObject* isoformat() { return interned<kIsoformat>(); }
PyObject* dunder_str() { return interned<kDunderStr>(); }
PyObject* dumps() { return interned<kDumps>(); }
PyObject* b64encode() { return interned<kB64encode>(); }
PyObject* decode() { return interned<kDecode>(); }
PyObject* ascii() { return interned<kAscii>(); }
PyObject* utcoffset() { return interned<kUtcoffset>(); }
PyObject* int_() { return interned<kInt>(); }
PyObject* json() { return interned<kJson>(); }
PyObject* base64() { return interned<kBase64>(); }
PyObject* uuid() { return interned<kUuid>(); }
PyObject* decimal() { return interned<kDecimalModule>(); }
PyObject* Decimal() { return interned<kDecimal>(); }

}  // namespace sorvel::engine::names
