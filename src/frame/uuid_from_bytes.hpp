// uuid.UUID objects made from their 16 bytes without running UUID.__init__: what __init__ does
// once it has the integer, done here. The int is built from its 30-bit digits (checked at
// first use against PyLong_FromUnsignedNativeBytes), and the two slots, int and is_safe
// (SafeUUID.unknown), are stored at the offsets their member descriptors give.
#pragma once

#include <Python.h>

#include <array>

#include "frame/ref.hpp"

namespace sorvel::frame {

// The UUID of class `uuid_type` (uuid.UUID) whose int is the big-endian `bytes`.
Ref uuid_from_bytes(PyObject* uuid_type, const std::array<unsigned char, 16>& bytes);

// The int of 16 big-endian bytes (exposed for the tests of the digit path).
Ref int_from_bytes(const std::array<unsigned char, 16>& bytes);

}  // namespace sorvel::frame
