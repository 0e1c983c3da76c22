#include "validation/functions.hpp"

#include "frame/native_class.hpp"
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

constexpr const char* kCompile[] = {"specs"};
constexpr const char* kValidate[] = {"plan", "rows"};
constexpr frame::ArgumentSpec kCompileSpec{"_compile_input_plan", nullptr, kCompile, 0, 1, {}};
constexpr frame::ArgumentSpec kValidateSpec{"_validate_rows", nullptr, kValidate, 0, 2, {}};

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

}  // namespace sorvel::validation
