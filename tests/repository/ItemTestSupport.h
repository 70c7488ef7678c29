// Shared pieces of the repository tests: a fixture that starts the library on the counting
// allocator and shuts it down after each test, so the test main's leak check sees everything the
// repository held given back; member records and type registration by type codes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/Repository.h"
#include "tests/support/CountingAllocator.h"

namespace QuorinTest {

inline bool StartLibrary(uint8_t flags = 0) {
  return TlxInitializeDetailed(17, flags, &CountingAllocate, &CountingReallocate, &CountingFree, ~0ull);
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartLibrary()); }
  void TearDown() override { TlxShutdown(); }
  static Quorin::Repository& Repo() { return *Quorin::Repository::Get(); }
};

// Member type codes used by the tests.
constexpr uint32_t kByte = 0, kDWord = 4, kQWord = 6, kFloat = 8, kDouble = 9, kTextId = 10, kReference = 16;

inline TlxMember Member(const char* name, uint32_t code, uint32_t count = 1) {
  return TlxMember{TlxCalculateTextId(name), count << 5 | code};
}

// Registers a class (members m0, m1, ...) or a template without features (t0, t1, ...) from
// (type code, count) pairs.
inline void RegisterType(bool isTemplate, const char* name, uint16_t id,
                         std::initializer_list<std::pair<uint32_t, uint32_t>> members) {
  std::vector<TlxMember> records;
  for (const auto& [code, count] : members) {
    const char member[3] = {isTemplate ? 't' : 'm', static_cast<char>('0' + records.size()), 0};
    records.push_back(Member(member, code, count));
  }
  const auto size = static_cast<uint32_t>(records.size());
  isTemplate ? TlxRegisterTemplateType(name, id, records.data(), size, nullptr, 0)
             : TlxRegisterClassType(name, id, records.data(), size);
}
inline void RegisterClass(const char* name, uint16_t id, std::initializer_list<std::pair<uint32_t, uint32_t>> members) {
  RegisterType(false, name, id, members);
}

inline std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace QuorinTest
