// JSON data (list and dict kinds, Django's JSONField) converted without the text round trip.
//
// The generic road serializes such a value with the interpreter's json.dumps, parses the text
// strictly and builds fresh Python objects from the parse: dicts with their keys in ascending
// order, lists, str, int, float, bool and None. For the shape json.loads itself builds (exact
// dicts with str keys, exact lists, str, int, float, bool, None) that result is known directly:
// the same tree with every dict's keys sorted, scalars passed through. Only while json.dumps
// is the standard library's own, unchanged, is that the answer; anything else (tuples, other
// key types, subclasses, NaN and infinities, ints beyond 64 bits, lone surrogates, nesting near
// the parser's depth limit, a replaced json module, encoder or __import__) takes the generic
// road.
#pragma once

#include <Python.h>

#include "frame/ref.hpp"

namespace sorvel::engine {

// The generic road's output for `value`, or an empty Ref (no Python error set) when it must be
// asked. Never runs Python code.
frame::Ref json_output(PyObject* value);

}  // namespace sorvel::engine
