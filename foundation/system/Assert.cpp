#include "foundation/system/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace Bravik::System {

void AssertionFailed(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", expression, file, line);
  std::abort();
}

}  // namespace Bravik::System
