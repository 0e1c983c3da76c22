#include "validation/functions.hpp"

#include "frame/native_class.hpp"
#include "validation/error_messages.hpp"
#include "validation/input_plan.hpp"

namespace sorvel::validation {
namespace {

using frame::Ref;

Ref compile_input_plan(PyObject*, PyObject* const* slots) {
    return wrap_input_plan(build_input_plan(slots[0]));
}

Ref validate_rows(PyObject*, PyObject* const* slots) {
    return validate_rows(input_plan_of(slots[0]), slots[1]);
}

Ref render_records(PyObject*, PyObject* const* slots) {
    const int many = PyObject_IsTrue(slots[7]);
    if (many < 0) frame::throw_fetched();
    return render_messages(slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6],
                           many != 0);
}

constexpr const char* kCompile[] = {"specs"};
constexpr const char* kValidate[] = {"plan", "rows"};
constexpr frame::ArgumentSpec kCompileSpec{"_compile_input_plan", nullptr, kCompile, 0, 1, {}};
constexpr frame::ArgumentSpec kValidateSpec{"_validate_rows", nullptr, kValidate, 0, 2, {}};
constexpr const char* kRender[] = {"records",     "names",        "entries",       "resolve",
                                   "plural_text", "render_other", "render_django", "many"};
constexpr frame::ArgumentSpec kRenderSpec{"_render_messages", nullptr, kRender, 0, 8, {}};

}  // namespace

PyMethodDef compile_input_plan_def = {
    "_compile_input_plan", frame::as_cfunction<frame::fastcall<kCompileSpec, compile_input_plan>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "_compile_input_plan(specs)\n--\n\n"
    "Compiles field specs into an input plan (private; see sorvel.django)."};

PyMethodDef validate_rows_def = {
    "_validate_rows", frame::as_cfunction<frame::fastcall<kValidateSpec, validate_rows>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "_validate_rows(plan, rows)\n--\n\n"
    "Cleans rows of request data or instances with an input plan (private; see sorvel.django).\n"
    "Returns (cleaned dicts of the valid rows, error records)."};

PyMethodDef render_messages_def = {
    "_render_messages", frame::as_cfunction<frame::fastcall<kRenderSpec, render_records>>(),
    METH_FASTCALL | METH_KEYWORDS,
    "_render_messages(records, names, entries, resolve, plural_text, render_other, "
    "render_django, many)\n--\n\n"
    "Renders the messages of error records in the shape of ValidationResult.errors (private; "
    "see sorvel.django)."};

}  // namespace sorvel::validation
