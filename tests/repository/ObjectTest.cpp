// Prototypes and instances: creation, data blocks sized by their type and kept in the object's
// region, member access, release with slot reuse, walks, failed allocations, and the absent
// results of every object export.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "repository/Objects.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;
using namespace Quorin;

constexpr uint32_t kNoId = 0xFFFFFFFF;
constexpr uint16_t kNoType = 0xFFFF;

// Class 10: DWord m0, Byte m1, QWord m2 -> 13 bytes. Template 20: DWord t0, DWord t1 -> 8 bytes.
class ObjectTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    RegisterClass("Thing", 10, {{kDWord, 1}, {kByte, 1}, {kQWord, 1}});
    RegisterType(true, "Look", 20, {{kDWord, 1}, {kDWord, 1}});
  }

  // A prototype of class 10 / template 20 whose data counts up from seed.
  static TlxObject* MakeFilledPrototype(uint32_t id, uint8_t seed) {
    TlxObject* object = TlxCreatePrototype(id, 10, 20);
    uint8_t data[13];
    for (uint8_t i = 0; i < 13; ++i) data[i] = static_cast<uint8_t>(seed + i);
    TlxStorePrototypeClassData(id, data, sizeof data);
    TlxStorePrototypeTemplateData(id, data, 8);
    return object;
  }
};

TEST_F(ObjectTest, InstancesAndClonesCopyTheirSourceIntoBlocksOfTheirOwn) {
  TlxObject* prototype = TlxCreatePrototype(1, 10, 20);
  EXPECT_TRUE(prototype->prototypeId == kNoId && prototype->classData == nullptr && prototype->templateData == nullptr);
  EXPECT_EQ(TlxGetObjectId(prototype), 1u);
  EXPECT_EQ(TlxGetInstance(1), nullptr) << "prototypes and instances are separate id spaces";
  MakeFilledPrototype(2, 100);
  TlxObject* instance = TlxCreateInstanceFromPrototype(7, 2);
  ASSERT_NE(instance, nullptr);
  EXPECT_TRUE(instance->prototypeId == 2 && instance->classId == 10 && instance->templateId == 20);
  EXPECT_NE(instance->classData, TlxGetPrototype(2)->classData);
  EXPECT_EQ(Bytes(instance->classData, 13), Bytes(TlxGetPrototype(2)->classData, 13));
  static_cast<uint8_t*>(instance->classData)[12] = 0x5A;
  EXPECT_EQ(static_cast<uint8_t*>(TlxGetPrototype(2)->classData)[12], 112);
  TlxObject* clone = TlxCloneInstance(8, 7);  // the source's current data and descent
  EXPECT_EQ(clone->prototypeId, 2u);
  EXPECT_EQ(static_cast<uint8_t*>(clone->classData)[12], 0x5A);
  EXPECT_EQ(Bytes(clone->templateData, 8), Bytes(instance->templateData, 8));
  EXPECT_EQ(TlxCreateInstanceFromPrototype(9, 99), nullptr);
  EXPECT_EQ(TlxCloneInstance(9, 99), nullptr);
  EXPECT_FALSE(TlxIsInstanceRegistered(9));
  // An empty instance keeps an unchecked prototype id and takes its data later.
  TlxObject* empty = TlxCreateEmptyInstance(3, 10, kNoType, 4242);
  EXPECT_EQ(empty->prototypeId, 4242u);
  const uint8_t data[13] = {1, 2, 3};
  TlxStoreInstanceClassData(3, data, sizeof data);
  EXPECT_EQ(Bytes(empty->classData, 13), Bytes(data, 13));
}

// The first store of each kind wins, a null pointer or a count of 0 attaching null; data never
// attached to the prototype, or of an unregistered type, stays null in its instances.
TEST_F(ObjectTest, FirstStoreWinsAndAbsentDataStaysAbsent) {
  TlxObject* object = TlxCreatePrototype(1, 10, 20);
  const uint8_t first[13] = {1, 1, 1, 1}, second[13] = {2, 2, 2, 2};
  TlxStorePrototypeClassData(1, first, sizeof first);
  void* block = object->classData;
  TlxStorePrototypeClassData(1, second, sizeof second);
  EXPECT_EQ(object->classData, block);
  EXPECT_EQ(Bytes(block, 13), Bytes(first, 13));
  TlxStorePrototypeTemplateData(1, first, 0);
  TlxStorePrototypeTemplateData(1, first, 8);
  EXPECT_EQ(object->templateData, nullptr);
  TlxObject* instance = TlxCreateInstanceFromPrototype(2, 1);
  TlxStoreInstanceTemplateData(2, first, 8);
  EXPECT_EQ(instance->templateData, nullptr);
  TlxCreatePrototype(3, 300, 301);
  TlxStorePrototypeClassData(3, first, 6);
  TlxStorePrototypeTemplateData(3, first, 6);
  TlxObject* untyped = TlxCreateInstanceFromPrototype(4, 3);
  EXPECT_TRUE(untyped->classData == nullptr && untyped->templateData == nullptr);
  TlxStorePrototypeClassData(5, first, sizeof first);  // unknown ids: nothing to store into
  TlxStoreInstanceTemplateData(5, first, 8);
  EXPECT_FALSE(TlxIsPrototypeRegistered(5) || TlxIsInstanceRegistered(5));
}

// A registered type fixes the block size: a short copy is padded with zeros and a long one cut,
// so later reads and copies of the full size stay inside the block (ASan checks every byte).
// Unregistered, the given count is the size, remembered for reuse.
TEST_F(ObjectTest, BlocksHaveTheTypeSizeWhateverTheCount) {
  for (const uint32_t count : {1u, 3u, 13u, 40u}) {
    std::vector<uint8_t> given(count), expected(13, 0);
    for (size_t i = 0; i < given.size(); ++i) given[i] = static_cast<uint8_t>(0xA0 + i);
    std::memcpy(expected.data(), given.data(), std::min<size_t>(13, count));
    TlxObject* prototype = TlxCreatePrototype(count, 10, kNoType);
    TlxStorePrototypeClassData(count, given.data(), count);
    EXPECT_EQ(Bytes(prototype->classData, 13), expected) << count;
    for (uint32_t round = 0; round < 3; ++round) {  // release and re-create reuse the block
      EXPECT_EQ(Bytes(TlxCreateInstanceFromPrototype(100, count)->classData, 13), expected) << count;
      TlxReleaseInstance(100);
    }
  }
  for (const uint8_t seed : {1, 4}) {
    TlxObject* loose = TlxCreateEmptyInstance(50, 400, kNoType, kNoId);
    const uint8_t data[3] = {seed, 2, 3};
    TlxStoreInstanceClassData(50, data, sizeof data);
    EXPECT_EQ(Bytes(loose->classData, 3), Bytes(data, 3));
    TlxReleaseInstance(50);
  }
  // Stored before its class was registered, a block keeps its size: an instance's copy is padded
  // with zeros, never read past the source; a member past the short block is null.
  TlxObject* early = TlxCreatePrototype(60, 51, kNoType);
  TlxStorePrototypeClassData(60, "\1\2\3\4", 4);
  RegisterClass("Later", 51, {{kDWord, 1}, {kDWord, 1}, {kDWord, 1}, {kDWord, 1}});
  EXPECT_EQ(TlxGetCMemberByName(early, "m1"), nullptr);
  TlxObject* copy = TlxCreateInstanceFromPrototype(61, 60);
  EXPECT_EQ(Bytes(copy->classData, 16), (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(TlxGetCMemberByName(copy, "m3"), static_cast<uint8_t*>(copy->classData) + 12);
}

// Data stored while another region is current belongs to the object's region: dropping the
// current region must not take the prototype's block with it.
TEST_F(ObjectTest, DataBlocksLiveInTheObjectsRegion) {
  TlxObject* prototype = TlxCreatePrototype(1, 10, 20);
  TlxBeginRegionWithId(5);
  const uint8_t data[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  TlxStorePrototypeClassData(1, data, sizeof data);
  EXPECT_EQ(Repo().FindRegion(0)->dataBlocks.SizeCount(), 1u);
  EXPECT_EQ(Repo().FindRegion(5)->dataBlocks.SizeCount(), 0u);
  ASSERT_NE(TlxCreateInstanceFromPrototype(2, 1), nullptr);  // lives in region 5
  TlxEndRegion();
  TlxDropRegionData(5);
  EXPECT_FALSE(TlxIsInstanceRegistered(2));
  EXPECT_EQ(Bytes(prototype->classData, 13), Bytes(data, 13));
  EXPECT_EQ(Bytes(TlxCreateInstanceFromPrototype(3, 1)->classData, 13), Bytes(data, 13));
}

void ExpectMembersAbsent(TlxObject* object) {
  const std::initializer_list<const void*> members = {
      TlxGetCMember(object, 0), TlxGetConstCMember(object, 0), TlxGetTMember(object, 0), TlxGetConstTMember(object, 0),
      TlxGetCMemberByName(object, "m0"), TlxGetConstCMemberByName(object, "m0"), TlxGetTMemberByName(object, "t0"),
      TlxGetConstTMemberByName(object, "t0")};
  for (const void* member : members) EXPECT_EQ(member, nullptr);
}

TEST_F(ObjectTest, MembersByOffsetAndByName) {
  TlxObject* object = MakeFilledPrototype(1, 0);
  auto* classData = static_cast<uint8_t*>(object->classData);
  auto* templateData = static_cast<uint8_t*>(object->templateData);
  const std::pair<const void*, const void*> cases[] = {
      {TlxGetCMember(object, 5), classData + 5},      {TlxGetConstCMember(object, 5), classData + 5},
      {TlxGetTMember(object, 4), templateData + 4},   {TlxGetConstTMember(object, 4), templateData + 4},
      {TlxGetCMemberByName(object, "m2"), classData + 5}, {TlxGetConstCMemberByName(object, "m1"), classData + 4},
      {TlxGetTMemberByName(object, "t1"), templateData + 4}, {TlxGetConstTMemberByName(object, "t0"), templateData}};
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
  for (const char* name : {"nope", "t0", static_cast<const char*>(nullptr)}) EXPECT_EQ(TlxGetCMemberByName(object, name), nullptr);
  EXPECT_EQ(TlxGetTMemberByName(object, "m0"), nullptr);
  ExpectMembersAbsent(TlxCreatePrototype(2, 10, 20));  // nothing attached
  ExpectMembersAbsent(nullptr);
  TlxObject* unknown = TlxCreatePrototype(3, 77, kNoType);  // data of an unknown class
  TlxStorePrototypeClassData(3, classData, 8);
  EXPECT_EQ(TlxGetCMemberByName(unknown, "m0"), nullptr);
  EXPECT_EQ(TlxGetCMember(unknown, 2), static_cast<uint8_t*>(unknown->classData) + 2);
}

TEST_F(ObjectTest, MemberReadsStayInsideTheBlock) {
  RegisterClass("Six", 30, {{kByte, 6}});
  CObject_Internal* object = CreatePrototype(Repo(), 1, 30, kNoId16);
  StoreData(Repo(), *object, EDataKind::kClass, "\1\2\3\4\5\6", 6);
  const struct { uint64_t offset, width; bool inside; } cases[] = {
      {0, 6, true}, {5, 1, true}, {6, 0, true}, {6, 1, false}, {2, 5, false}, {0, ~0ull, false}, {~0ull, 1, false}, {7, 0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(object->MemberAt(EDataKind::kClass, c.offset, c.width),
              c.inside ? static_cast<uint8_t*>(object->classData) + c.offset : nullptr)
        << c.offset << "+" << c.width;
  }
  EXPECT_EQ(object->MemberAt(EDataKind::kTemplate, 0, 0), nullptr);  // nothing attached
}

// A release takes exactly its own item (ids may repeat) and its slot is reused at the same address.
TEST_F(ObjectTest, ReleaseTakesOneItemAndItsSlotIsReused) {
  MakeFilledPrototype(1, 0);
  TlxObject* a = TlxCreateInstanceFromPrototype(7, 1);
  TlxObject* b = TlxCreateInstanceFromPrototype(7, 1);
  TlxCreateInstanceFromPrototype(8, 1);
  TlxReleaseInstance(9);
  TlxReleaseInstance(1);  // a prototype id, not an instance
  EXPECT_TRUE(TlxIsPrototypeRegistered(1));
  TlxReleaseInstance(7);
  TlxObject* left = TlxGetInstance(7);
  ASSERT_TRUE(left == a || left == b);
  EXPECT_EQ(Bytes(left->classData, 13), Bytes(TlxGetPrototype(1)->classData, 13));
  TlxReleaseInstance(7);
  EXPECT_FALSE(TlxIsInstanceRegistered(7));
  EXPECT_TRUE(TlxIsInstanceRegistered(8));
  TlxObject* reused = TlxCreateInstanceFromPrototype(9, 1);
  EXPECT_TRUE(reused == a || reused == b);
  EXPECT_EQ(TlxGetObjectId(reused), 9u);
}

// Steady play allocates nothing: slots and data blocks come back from the region's free lists.
TEST_F(ObjectTest, CreateAndReleaseAllocateNothingAfterWarmUp) {
  MakeFilledPrototype(1, 0);
  auto round = [] {
    for (uint32_t i = 0; i < 10000; ++i) ASSERT_NE(TlxCreateInstanceFromPrototype(i, 1), nullptr);
    for (uint32_t i = 0; i < 10000; ++i) TlxReleaseInstance(i);
  };
  round();
  const uint64_t before = Counters().allocateCalls.load();
  const uint64_t blocksBefore = Bravik::Memory::GetMemoryStatistics().liveBlocks;
  round();
  round();
  EXPECT_EQ(Counters().allocateCalls.load(), before);
  EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().liveBlocks, blocksBefore);
}

// An instance may carry 0xFFFFFFFF as its prototype id: it is still an instance in every walk
// and leaves the instance tree (not the prototype tree) when its region goes. A drop takes its own
// item of a repeated id: here the region-0 instance 4 sits above it in the tree, where a search by
// id would meet it first. Walks follow pool order, skip released slots, and a false answer ends
// the current region.
TEST_F(ObjectTest, WalksSeeEachKindInPoolOrderAndADropTakesOnlyItsOwnItems) {
  TlxCreatePrototype(4, 1, 1);
  std::vector<TlxObject*> made;
  for (uint32_t id : {2, 4, 6}) made.push_back(TlxCreateEmptyInstance(id, 1, 1, 4));
  TlxBeginRegionWithId(9);
  TlxCreateEmptyInstance(4, 1, 1, kNoId32);
  TlxEndRegion();
  auto collect = [](uint16_t region, bool all) {
    std::vector<uint32_t> ids;
    WalkInstances(Repo(), region, [&](CObject_Internal& object) { return ids.push_back(object.GetId()), all; });
    return ids;
  };
  EXPECT_EQ(collect(kAllRegions, true), (std::vector<uint32_t>{2, 4, 6, 4}));
  EXPECT_EQ(collect(kAllRegions, false), (std::vector<uint32_t>{2, 4}));
  uint32_t prototypes = 0;
  WalkPrototypes(Repo(), kAllRegions, [&](CObject_Internal&) { return ++prototypes, true; });
  EXPECT_EQ(prototypes, 1u);
  TlxDropRegionData(9);
  EXPECT_EQ(Repo().Index().instances.count, 3u);
  EXPECT_EQ(TlxGetInstance(4), made[1]);
  EXPECT_NE(TlxGetPrototype(4), nullptr);
  TlxReleaseInstance(2);
  TlxCreateEmptyInstance(7, 1, 1, 4);  // reuses the released slot, keeps its place
  EXPECT_EQ(collect(0, true), (std::vector<uint32_t>{7, 4, 6}));
}

// Allocation N fails for N = 1, 2, ... while instances are made in fresh regions (pools, chunks
// and blocks to get): each attempt makes whole instances or leaves nothing half-linked.
TEST_F(ObjectTest, FailedAllocationsLeaveNoHalfMadeInstance) {
  RegisterClass("Forty", 32, {{kQWord, 5}});
  RegisterType(true, "Twenty", 33, {{kDWord, 5}});
  TlxCreatePrototype(1, 32, 33);
  const uint8_t data[40] = {7};
  TlxStorePrototypeClassData(1, data, 40);
  TlxStorePrototypeTemplateData(1, data, 20);
  uint32_t made = 0;
  uint16_t region = 0;
  const auto makeSome = [&] {
    TlxBeginRegionWithId(++region);
    const struct End { ~End() { TlxEndRegion(); } } end;
    for (int i = 0; i < 64; ++i) {
      ASSERT_NE(TlxCreateInstanceFromPrototype(made, 1), nullptr);
      ++made;
    }
  };
  uint64_t failures = 0;
  for (int i = 0; i < 4; ++i) {
    failures += ForEachAllocationFailure(makeSome, [&] { EXPECT_EQ(Repo().Index().instances.count, made); });
  }
  EXPECT_GT(failures, 0u);
  for (uint32_t id = 0; id < made; ++id) {
    EXPECT_EQ(static_cast<uint8_t*>(FindInstance(Repo(), id)->classData)[0], 7);
    EXPECT_EQ(FindInstance(Repo(), id)->DataSize(EDataKind::kTemplate), 20u);
  }
}


// Every object export before start-up and after shutdown: absent results, nothing allocated.
void ExpectObjectExportsAbsent() {
  const uint64_t before = Counters().allocateCalls.load();
  const uint8_t data[16] = {};
  EXPECT_EQ(TlxCreatePrototype(1, 10, 20), nullptr);
  EXPECT_FALSE(TlxIsPrototypeRegistered(1));
  EXPECT_EQ(TlxGetPrototype(1), nullptr);
  TlxStorePrototypeClassData(1, data, sizeof data);
  TlxStorePrototypeTemplateData(1, data, sizeof data);
  EXPECT_EQ(TlxCreateInstanceFromPrototype(2, 1), nullptr);
  EXPECT_EQ(TlxCloneInstance(3, 2), nullptr);
  EXPECT_EQ(TlxCreateEmptyInstance(4, 10, 20, 1), nullptr);
  EXPECT_FALSE(TlxIsInstanceRegistered(4));
  EXPECT_EQ(TlxGetInstance(4), nullptr);
  TlxStoreInstanceClassData(4, data, sizeof data);
  TlxStoreInstanceTemplateData(4, data, sizeof data);
  TlxReleaseInstance(4);
  TlxObject fake{kNoId, 10, 20, const_cast<uint8_t*>(data), const_cast<uint8_t*>(data)};
  ExpectMembersAbsent(&fake);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

TEST(ObjectExports, GiveAbsentResultsBeforeStartAndAfterShutdown) {
  ExpectObjectExportsAbsent();
  ASSERT_TRUE(StartLibrary());
  TlxCreatePrototype(1, 10, 20);
  TlxShutdown();
  ExpectObjectExportsAbsent();
}

}  // namespace
