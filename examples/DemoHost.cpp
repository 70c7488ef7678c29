// DemoHost: a small game-side host. It loads QuorinCAPI at run time, looks up the exports it
// uses by name, and walks through what the library offers, printing every call and result.
// Exit code 0 when every step behaved as the library promises, 1 otherwise.
#include <cstdio>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "examples/HostLibrary.h"

namespace {

// The exports this host uses. To use another one, add its name here: the pointer type comes
// from the public header and the lookup is done by name when the library is loaded.
#define DEMO_EXPORTS(X) \
  X(BrvMalloc)          \
  X(BrvRealloc)         \
  X(BrvFree)

struct CExports {
#define DEMO_DECLARE(name) decltype(&::name) name = nullptr;
  DEMO_EXPORTS(DEMO_DECLARE)
#undef DEMO_DECLARE
};

template <typename Function>
bool Bind(const CHostLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.Find(name));
  std::printf("  %-12s %s\n", name, function != nullptr ? "found" : "MISSING");
  return function != nullptr;
}

bool BindExports(const CHostLibrary& library, CExports& exports) {
  bool all = true;
#define DEMO_BIND(name) all = Bind(library, #name, exports.name) && all;
  DEMO_EXPORTS(DEMO_BIND)
#undef DEMO_BIND
  return all;
}

// Prints one call with its result; a result other than the promised one fails the demo.
bool Report(const char* call, const char* result, bool asPromised) {
  std::printf("  %-40s -> %s%s\n", call, result, asPromised ? "" : "   UNEXPECTED");
  return asPromised;
}

// Before start-up the library has no allocator: the memory exports serve nothing and leave
// the host's own blocks alone.
bool ShowMemoryBeforeStart(const CExports& lib) {
  bool ok = true;
  void* block = lib.BrvMalloc(64, 1);
  ok = Report("BrvMalloc(64, pool 1)", block ? "a block" : "null", block == nullptr) && ok;
  block = lib.BrvRealloc(nullptr, 256, 0);
  ok = Report("BrvRealloc(null, 256, pool 0)", block ? "a block" : "null", block == nullptr) && ok;
  lib.BrvFree(nullptr);
  ok = Report("BrvFree(null)", "ignored", true) && ok;

  std::vector<unsigned char> own(32, 0x5A);
  lib.BrvFree(own.data());
  const bool untouched = std::vector<unsigned char>(32, 0x5A) == own;
  ok = Report("BrvFree(a block of the host's own)", untouched ? "ignored, block untouched"
                                                              : "block changed",
              untouched) && ok;
  return ok;
}

// The story so far; each step prints what it does and says whether it went as promised.
struct DemoStep {
  const char* title;
  bool (*run)(const CExports& lib);
};
constexpr DemoStep kSteps[] = {
    {"Memory before start-up (the allocator is created when the library starts)",
     &ShowMemoryBeforeStart},
};

}  // namespace

int main() {
  std::printf("QuorinCAPI demo host\n\n");
  CHostLibrary library;
  if (!library.Open()) {
    std::printf("Could not load %s: %s\n", library.Path().c_str(), library.Error().c_str());
    return 1;
  }
  std::printf("Loaded %s\nLooking up exports by name:\n", library.Path().c_str());
  CExports exports;
  if (!BindExports(library, exports)) {
    std::printf("The library lacks exports this host needs.\n");
    return 1;
  }

  bool ok = true;
  for (const DemoStep& step : kSteps) {
    std::printf("\n%s:\n", step.title);
    ok = step.run(exports) && ok;
  }
  std::printf("\n%s\n", ok ? "Demo finished: every call behaved as the library promises."
                           : "Demo finished with UNEXPECTED results.");
  return ok ? 0 : 1;
}
