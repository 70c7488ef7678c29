// Objects seen from inside: the kind apart from the prototype id field, walks, bounded member
// reads, data blocks in the object's region, the instance-release hook, and failed allocations.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/Objects.h"
#include "repository/Repository.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace Quorin;
using QuorinTest::LibraryTest;

Repository& Repo() { return *Repository::Get(); }

using ObjectInternalTest = LibraryTest;

// An instance may carry 0xFFFFFFFF as its prototype id; it must still be an instance in every
// walk and leave the instance tree (not the prototype tree) when its region goes.
TEST_F(ObjectInternalTest, InstanceWithNoPrototypeIdStaysAnInstance) {
  TlxCreatePrototype(4, 1, 1);
  TlxBeginRegionWithId(2);
  TlxCreateEmptyInstance(4, 1, 1, kNoId32);
  TlxEndRegion();
  uint32_t prototypes = 0, instances = 0;
  WalkPrototypes(Repo(), kAllRegions, [&](CObject_Internal&) { return ++prototypes, true; });
  WalkInstances(Repo(), kAllRegions, [&](CObject_Internal&) { return ++instances, true; });
  EXPECT_EQ(prototypes, 1u);
  EXPECT_EQ(instances, 1u);

  TlxDropRegionData(2);
  EXPECT_FALSE(TlxIsInstanceRegistered(4));
  EXPECT_EQ(Repo().Index().instances.count, 0u);
  ASSERT_EQ(Repo().Index().prototypes.count, 1u);
  EXPECT_NE(TlxGetPrototype(4), nullptr);
}

TEST_F(ObjectInternalTest, WalksFollowPoolOrderAndSkipReleasedSlots) {
  TlxCreatePrototype(100, 1, 1);
  for (uint32_t id = 1; id <= 4; ++id) TlxCreateEmptyInstance(id, 1, 1, 100);
  TlxBeginRegionWithId(9);
  TlxCreateEmptyInstance(50, 1, 1, 100);
  TlxEndRegion();
  TlxReleaseInstance(2);

  auto collect = [](uint16_t region, uint32_t stopAfter) {
    std::vector<uint32_t> ids;
    WalkInstances(Repo(), region, [&](CObject_Internal& object) {
      ids.push_back(object.GetId());
      return ids.size() % stopAfter != 0;
    });
    return ids;
  };
  EXPECT_EQ(collect(0, 100), (std::vector<uint32_t>{1, 3, 4}));
  EXPECT_EQ(collect(9, 100), (std::vector<uint32_t>{50}));
  EXPECT_EQ(collect(kAllRegions, 100), (std::vector<uint32_t>{1, 3, 4, 50}));
  // A callback that answers false ends its region only.
  EXPECT_EQ(collect(kAllRegions, 1), (std::vector<uint32_t>{1, 50}));

  TlxCreateEmptyInstance(7, 1, 1, 100);  // reuses the released slot, keeps its place
  EXPECT_EQ(collect(0, 100), (std::vector<uint32_t>{1, 7, 3, 4}));
}

struct ReadCase {
  uint64_t offset;
  uint64_t width;
  bool inside;
};

TEST_F(ObjectInternalTest, MemberReadsStayInsideTheBlock) {
  QuorinTest::RegisterClass("Six", 30, {{QuorinTest::kByte, 6}});
  CObject_Internal* object = CreatePrototype(Repo(), 1, 30, kNoId16);
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  StoreData(Repo(), *object, EDataKind::kClass, data, sizeof data);
  const ReadCase cases[] = {{0, 6, true},  {5, 1, true},           {6, 0, true},          {6, 1, false},
                            {2, 5, false}, {0, ~0ull, false},       {~0ull, 1, false},     {7, 0, false}};
  for (const ReadCase& c : cases) {
    void* member = object->MemberAt(EDataKind::kClass, c.offset, c.width);
    EXPECT_EQ(member, c.inside ? static_cast<uint8_t*>(object->classData) + c.offset : nullptr)
        << c.offset << "+" << c.width;
  }
  EXPECT_EQ(object->MemberAt(EDataKind::kTemplate, 0, 0), nullptr);  // nothing attached
}

TEST_F(ObjectInternalTest, StoredBlocksComeFromTheObjectsRegion) {
  QuorinTest::RegisterClass("Twelve", 31, {{QuorinTest::kDWord, 3}});
  CObject_Internal* object = CreatePrototype(Repo(), 1, 31, kNoId16);
  TlxBeginRegionWithId(6);
  const uint8_t data[12] = {};
  StoreData(Repo(), *object, EDataKind::kClass, data, sizeof data);
  EXPECT_EQ(object->DataSize(EDataKind::kClass), 12u);
  EXPECT_EQ(Repo().FindRegion(0)->dataBlocks.SizeCount(), 1u);
  EXPECT_EQ(Repo().FindRegion(6)->dataBlocks.SizeCount(), 0u);
  TlxEndRegion();
}

// Allocation N fails for N = 1, 2, ... while instances are made: each attempt either makes a whole
// instance or leaves nothing half-linked, and nothing leaks.
TEST_F(ObjectInternalTest, FailedAllocationsLeaveNoHalfMadeInstance) {
  QuorinTest::RegisterClass("Forty", 32, {{QuorinTest::kQWord, 5}});
  QuorinTest::RegisterTemplate("Twenty", 33, {{QuorinTest::kDWord, 5}});
  TlxCreatePrototype(1, 32, 33);
  const uint8_t data[40] = {7};
  TlxStorePrototypeClassData(1, data, 40);
  TlxStorePrototypeTemplateData(1, data, 20);
  QuorinTest::AllocatorCounters& counters = QuorinTest::Counters();
  uint32_t made = 0, failures = 0;
  for (uint64_t n = 1; n <= 40; ++n) {
    counters.failAtCall = counters.allocateCalls + counters.reallocateCalls + n;
    try {
      for (uint32_t i = 0; i < 64; ++i) {
        TlxBeginRegionWithId(static_cast<uint16_t>(n));  // fresh pools: chunks and slabs to get
        ASSERT_NE(TlxCreateInstanceFromPrototype(made, 1), nullptr);
        ++made;
        TlxEndRegion();
      }
    } catch (const std::bad_alloc&) {
      ++failures;
      TlxEndRegion();
    }
    counters.failAtCall = 0;
  }
  EXPECT_GT(failures, 0u);
  EXPECT_EQ(Repo().Index().instances.count, made);
  for (uint32_t id = 0; id < made; ++id) {
    CObject_Internal* instance = FindInstance(Repo(), id);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(instance->classData)[0], 7);
    EXPECT_EQ(instance->DataSize(EDataKind::kTemplate), 20u);
  }
}

}  // namespace
