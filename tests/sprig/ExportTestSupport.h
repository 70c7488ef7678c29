// Helpers of the tests that use the script exports as a host does.
#pragma once

#include <string>

#include "capi/QuorinCAPI.h"
#include "tests/sprig/SprigTestSupport.h"

namespace SprigTest {

inline uint32_t Hash(const char* name) { return TlxCalculateTextId(name); }

// Describes a returned value and frees its String block the way a host does.
inline std::string Take(TlxSprigValue value) {
  std::string described = Describe(value);
  if (value.kind == Quorin::Sprig::kSprigString) BrvFree(reinterpret_cast<void*>(value.payload));
  return described;
}

inline std::string Execute(const char* text) { return Take(TlxSprigExecute(text)); }
inline std::string GetVar(const char* name) { return Describe(TlxSprigGetVar(name)); }

}  // namespace SprigTest
