#include "foundation/system/Platform.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace Bravik::System {

uint32_t QueryL1DataCacheSize() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return 0;
  char vendor[13];
  std::memcpy(vendor + 0, &b, 4);
  std::memcpy(vendor + 4, &d, 4);
  std::memcpy(vendor + 8, &c, 4);
  vendor[12] = 0;
  if (std::strcmp(vendor, "GenuineIntel") == 0) {
    if (a < 4) return 0;
    __cpuid_count(4, 0, a, b, c, d);
    const uint32_t ways = (b >> 22) & 0x3FF, partitions = (b >> 12) & 0x3FF, line = b & 0xFFF;
    return (ways + 1) * (partitions + 1) * (line + 1) * (c + 1);
  }
  if (std::strcmp(vendor, "AuthenticAMD") == 0) {
    if (!__get_cpuid(0x80000000u, &a, &b, &c, &d) || a < 0x80000008u) return 0;
    __cpuid(0x80000005u, a, b, c, d);
    return ((c >> 24) & 0xFF) * 1024u;
  }
#endif
  return 0;
}

void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace Bravik::System
