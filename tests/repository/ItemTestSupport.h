// Shared pieces of the object, list, text and blob tests: a fixture that starts the library on
// the counting allocator and shuts it down after each test, so the test main's leak check sees
// everything the repository held given back.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "tests/support/CountingAllocator.h"

namespace QuorinTest {

constexpr uint16_t kLibraryVersion = 17;

inline bool StartLibrary(uint8_t flags = 0) {
  return TlxInitializeDetailed(kLibraryVersion, flags, &CountingAllocate, &CountingReallocate,
                               &CountingFree, ~0ull);
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartLibrary()); }
  void TearDown() override { TlxShutdown(); }
};

// Member records from (type code, count) pairs, named prefix0, prefix1, ...
inline std::vector<TlxMember> Members(char prefix, std::initializer_list<std::pair<uint32_t, uint32_t>> members) {
  std::vector<TlxMember> records;
  for (const auto& [code, count] : members) {
    const char name[3] = {prefix, static_cast<char>('0' + records.size()), 0};
    records.push_back(TlxMember{TlxCalculateTextId(name), count << 5 | code});
  }
  return records;
}

// Registers a class whose members are named m0, m1, ...
inline void RegisterClass(const char* name, uint16_t id,
                          std::initializer_list<std::pair<uint32_t, uint32_t>> members) {
  const std::vector<TlxMember> records = Members('m', members);
  TlxRegisterClassType(name, id, records.data(), static_cast<uint32_t>(records.size()));
}

// Registers a template without features whose members are named t0, t1, ...
inline void RegisterTemplate(const char* name, uint16_t id,
                             std::initializer_list<std::pair<uint32_t, uint32_t>> members) {
  const std::vector<TlxMember> records = Members('t', members);
  TlxRegisterTemplateType(name, id, records.data(), static_cast<uint32_t>(records.size()), nullptr, 0);
}

// Member type codes used by the tests.
constexpr uint32_t kByte = 0;
constexpr uint32_t kDWord = 4;
constexpr uint32_t kQWord = 6;
constexpr uint32_t kTextId = 10;
constexpr uint32_t kReference = 16;

inline std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace QuorinTest
