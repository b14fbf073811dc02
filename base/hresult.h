// HRESULT values for the portable code. On Windows they equal the platform's constants; the
// portable code uses these names so it builds and is tested natively.
#pragma once

#include <cstdint>

namespace kvx {

using HResult = int32_t;

constexpr HResult MakeCode(uint32_t bits) {
  return static_cast<HResult>(bits);
}

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kNotImpl = MakeCode(0x80004001);
inline constexpr HResult kNoInterface = MakeCode(0x80004002);
inline constexpr HResult kPointer = MakeCode(0x80004003);
inline constexpr HResult kFail = MakeCode(0x80004005);
inline constexpr HResult kUnexpected = MakeCode(0x8000FFFF);
inline constexpr HResult kOutOfMemory = MakeCode(0x8007000E);
inline constexpr HResult kInvalidArg = MakeCode(0x80070057);
inline constexpr HResult kInvalidMediaType = MakeCode(0x80040200);  // VFW_E_INVALIDMEDIATYPE
inline constexpr HResult kRuntimeError = MakeCode(0x8004020B);      // VFW_E_RUNTIME_ERROR

constexpr bool Succeeded(HResult hr) {
  return hr >= 0;
}
constexpr bool Failed(HResult hr) {
  return hr < 0;
}

}  // namespace kvx
