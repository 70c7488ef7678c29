// Internal invariants. Compiled out in release builds; a failure in a debug build reports the
// place on standard error and aborts (no allocation on this path).
#pragma once

namespace Bravik::System {
[[noreturn]] void AssertionFailed(const char* expression, const char* file, int line);
}

#ifdef NDEBUG
#define BRAVIK_ASSERT(expression) ((void)0)
#else
#define BRAVIK_ASSERT(expression) \
  ((expression) ? (void)0 : ::Bravik::System::AssertionFailed(#expression, __FILE__, __LINE__))
#endif
