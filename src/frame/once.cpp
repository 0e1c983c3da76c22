#include "frame/once.hpp"

#include "frame/error.hpp"

namespace sorvel::frame {

void throw_reentered_creation() {
    throw PythonError(PyExc_RuntimeError,
                      "reentrant call during the library's one-time initialization (an import or "
                      "audit hook called it again on the same thread)");
}

}  // namespace sorvel::frame
