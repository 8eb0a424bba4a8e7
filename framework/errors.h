// Failures raised inside the module. The entry point's guard turns each into
// a protocol result code; nothing of this kind crosses an entry point.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace fx {

// A 16-bit protocol result code, reported to the host as it is.
struct OSErrFailure {
  int16_t code;
};

// A 32-bit host-service code (a failed service acquisition or call).
struct ServiceFailure {
  int32_t code;
};

[[noreturn]] inline void ThrowOSErr(int16_t code) { throw OSErrFailure{code}; }
[[noreturn]] inline void ThrowServiceError(int32_t code) { throw ServiceFailure{code}; }

}  // namespace fx
