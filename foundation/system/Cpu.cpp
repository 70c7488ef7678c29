#include <cstring>

#include "foundation/system/Platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace Bravik::System {

namespace {
bool ReadCpuid(uint32_t leaf, uint32_t subleaf, CpuidRegisters& out) {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid_count(leaf, subleaf, &a, &b, &c, &d)) return false;
  out = {a, b, c, d};
  return true;
#else
  (void)leaf, (void)subleaf, (void)out;
  return false;
#endif
}
}  // namespace

uint32_t L1DataCacheSizeFrom(CpuidFunction cpuid) {
  CpuidRegisters r{};
  if (!cpuid(0, 0, r)) return 0;
  char vendor[13];
  std::memcpy(vendor + 0, &r.ebx, 4);
  std::memcpy(vendor + 4, &r.edx, 4);
  std::memcpy(vendor + 8, &r.ecx, 4);
  vendor[12] = 0;
  if (std::strcmp(vendor, "GenuineIntel") == 0) {
    // Leaf 4, sub-leaf 0: ways, partitions, line size and sets, each stored minus one.
    if (r.eax < 4 || !cpuid(4, 0, r)) return 0;
    const uint32_t ways = (r.ebx >> 22) & 0x3FF, partitions = (r.ebx >> 12) & 0x3FF, line = r.ebx & 0xFFF;
    return (ways + 1) * (partitions + 1) * (line + 1) * (r.ecx + 1);
  }
  if (std::strcmp(vendor, "AuthenticAMD") == 0) {
    // Leaf 0x80000005 ECX bits 31-24: L1 data cache in KB, trusted when 0x80000008 exists.
    if (!cpuid(0x80000000u, 0, r) || r.eax < 0x80000008u || !cpuid(0x80000005u, 0, r)) return 0;
    return ((r.ecx >> 24) & 0xFF) * 1024u;
  }
  return 0;
}

uint32_t QueryL1DataCacheSize() { return L1DataCacheSizeFrom(&ReadCpuid); }

void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

bool HasCarrylessMultiply() {
  static const bool present = [] {
    CpuidRegisters r{};
    constexpr uint32_t kPclmulqdq = 1u << 1;
    constexpr uint32_t kSse41 = 1u << 19;
    return ReadCpuid(1, 0, r) && (r.ecx & kPclmulqdq) != 0 && (r.ecx & kSse41) != 0;
  }();
  return present;
}

}  // namespace Bravik::System
