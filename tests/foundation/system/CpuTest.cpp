#include <cstring>
#include <map>
#include <utility>

#include <gtest/gtest.h>

#include "foundation/system/Platform.h"

using Bravik::System::CpuidRegisters;

namespace {

// A recorded processor: answers by (leaf, sub-leaf), unknown leaves fail.
std::map<std::pair<uint32_t, uint32_t>, CpuidRegisters> g_answers;

bool Recorded(uint32_t leaf, uint32_t subleaf, CpuidRegisters& out) {
  auto it = g_answers.find({leaf, subleaf});
  if (it == g_answers.end()) return false;
  out = it->second;
  return true;
}

CpuidRegisters Vendor(const char* name, uint32_t maxLeaf) {
  CpuidRegisters r{maxLeaf, 0, 0, 0};
  std::memcpy(&r.ebx, name + 0, 4);
  std::memcpy(&r.edx, name + 4, 4);
  std::memcpy(&r.ecx, name + 8, 4);
  return r;
}

}  // namespace

TEST(L1DataCache, IntelLeafFourProduct) {
  // 12 ways, 1 partition, 64-byte lines, 64 sets: 48 KiB.
  g_answers = {{{0, 0}, Vendor("GenuineIntel", 0x16)},
               {{4, 0}, CpuidRegisters{0, (11u << 22) | (0u << 12) | 63u, 63u, 0}}};
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 48u * 1024);
  g_answers[{0, 0}] = Vendor("GenuineIntel", 3);  // leaf 4 not offered
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 0u);
}

TEST(L1DataCache, AmdExtendedLeafInKilobytes) {
  g_answers = {{{0, 0}, Vendor("AuthenticAMD", 0x10)},
               {{0x80000000u, 0}, CpuidRegisters{0x80000008u, 0, 0, 0}},
               {{0x80000005u, 0}, CpuidRegisters{0, 0, 32u << 24 | 0x40, 0}}};
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 32u * 1024);
  g_answers[{0x80000000u, 0}] = CpuidRegisters{0x80000007u, 0, 0, 0};
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 0u) << "needs leaf 0x80000008";
}

TEST(L1DataCache, OtherVendorsAndNoCpuidGiveZero) {
  g_answers = {{{0, 0}, Vendor("CentaurHauls", 0x10)}, {{4, 0}, CpuidRegisters{0, ~0u, ~0u, 0}}};
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 0u);
  g_answers.clear();
  EXPECT_EQ(Bravik::System::L1DataCacheSizeFrom(&Recorded), 0u);
}
