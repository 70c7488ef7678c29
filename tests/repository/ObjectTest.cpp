// Prototypes and instances through the exports: creation, data blocks, member access, cloning,
// release with slot reuse, and the absent results of every object export.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;

constexpr uint32_t kNoId = 0xFFFFFFFF;
constexpr uint16_t kNoType = 0xFFFF;

// Class 10: DWord m0, Byte m1, QWord m2 -> 13 bytes. Template 20: DWord t0, DWord t1 -> 8 bytes.
class ObjectTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    RegisterClass("Thing", 10, {{kDWord, 1}, {kByte, 1}, {kQWord, 1}});
    RegisterTemplate("Look", 20, {{kDWord, 1}, {kDWord, 1}});
  }

  // A prototype of class 10 / template 20 whose data counts up from seed.
  TlxObject* MakeFilledPrototype(uint32_t id, uint8_t seed) {
    TlxObject* object = TlxCreatePrototype(id, 10, 20);
    uint8_t data[13];
    for (uint8_t i = 0; i < 13; ++i) data[i] = static_cast<uint8_t>(seed + i);
    TlxStorePrototypeClassData(id, data, sizeof data);
    TlxStorePrototypeTemplateData(id, data, 8);
    return object;
  }
};

// ---- Creation and look-up --------------------------------------------------------------------

TEST_F(ObjectTest, PrototypeStartsWithoutDataAndIsFoundById) {
  TlxObject* object = TlxCreatePrototype(5, 10, 20);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->prototypeId, kNoId);
  EXPECT_EQ(object->classId, 10);
  EXPECT_EQ(object->templateId, 20);
  EXPECT_EQ(object->classData, nullptr);
  EXPECT_EQ(object->templateData, nullptr);
  EXPECT_EQ(TlxGetPrototype(5), object);
  EXPECT_TRUE(TlxIsPrototypeRegistered(5));
  EXPECT_EQ(TlxGetObjectId(object), 5u);
  // Prototypes and instances are separate id spaces.
  EXPECT_FALSE(TlxIsInstanceRegistered(5));
  EXPECT_EQ(TlxGetInstance(5), nullptr);
}

TEST_F(ObjectTest, InstanceCopiesThePrototypesDataIntoItsOwnBlocks) {
  TlxObject* prototype = MakeFilledPrototype(1, 100);
  TlxObject* instance = TlxCreateInstanceFromPrototype(7, 1);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->prototypeId, 1u);
  EXPECT_EQ(instance->classId, 10);
  EXPECT_EQ(instance->templateId, 20);
  ASSERT_NE(instance->classData, nullptr);
  EXPECT_NE(instance->classData, prototype->classData);
  EXPECT_EQ(Bytes(instance->classData, 13), Bytes(prototype->classData, 13));
  EXPECT_EQ(Bytes(instance->templateData, 8), Bytes(prototype->templateData, 8));

  static_cast<uint8_t*>(instance->classData)[4] = 0xEE;
  EXPECT_EQ(static_cast<uint8_t*>(prototype->classData)[4], 104);
}

TEST_F(ObjectTest, CloneCopiesTheSourcesCurrentDataAndDescent) {
  MakeFilledPrototype(1, 0);
  TlxObject* source = TlxCreateInstanceFromPrototype(7, 1);
  static_cast<uint8_t*>(source->classData)[12] = 0x5A;
  TlxObject* clone = TlxCloneInstance(8, 7);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->prototypeId, 1u);
  EXPECT_EQ(static_cast<uint8_t*>(clone->classData)[12], 0x5A);
  EXPECT_EQ(Bytes(clone->templateData, 8), Bytes(source->templateData, 8));
  EXPECT_EQ(TlxGetInstance(8), clone);
}

TEST_F(ObjectTest, MissingSourcesCreateNothing) {
  EXPECT_EQ(TlxCreateInstanceFromPrototype(7, 99), nullptr);
  EXPECT_FALSE(TlxIsInstanceRegistered(7));
  EXPECT_EQ(TlxCloneInstance(8, 99), nullptr);
  EXPECT_FALSE(TlxIsInstanceRegistered(8));
}

TEST_F(ObjectTest, EmptyInstanceKeepsAnUncheckedPrototypeId) {
  TlxObject* object = TlxCreateEmptyInstance(3, 10, kNoType, 4242);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->prototypeId, 4242u);
  EXPECT_EQ(object->classData, nullptr);
  EXPECT_EQ(object->templateData, nullptr);
  const uint8_t data[13] = {1, 2, 3};
  TlxStoreInstanceClassData(3, data, sizeof data);
  ASSERT_NE(object->classData, nullptr);
  EXPECT_EQ(Bytes(object->classData, 13), Bytes(data, 13));
}

TEST_F(ObjectTest, UnattachedPrototypeDataStaysNullInTheInstanceForGood) {
  TlxCreatePrototype(1, 10, 20);
  TlxObject* instance = TlxCreateInstanceFromPrototype(2, 1);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->classData, nullptr);
  const uint8_t data[13] = {9};
  TlxStoreInstanceClassData(2, data, sizeof data);
  EXPECT_EQ(instance->classData, nullptr);
}

TEST_F(ObjectTest, UnregisteredTypesGiveInstancesNoData) {
  TlxCreatePrototype(1, 300, 301);
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  TlxStorePrototypeClassData(1, data, sizeof data);
  TlxStorePrototypeTemplateData(1, data, sizeof data);
  TlxObject* instance = TlxCreateInstanceFromPrototype(2, 1);
  EXPECT_EQ(instance->classData, nullptr);
  EXPECT_EQ(instance->templateData, nullptr);
}

// ---- Storing data ----------------------------------------------------------------------------

TEST_F(ObjectTest, FirstStoreWinsAndNullAttachesNull) {
  TlxObject* object = TlxCreatePrototype(1, 10, 20);
  TlxStorePrototypeClassData(1, nullptr, 13);
  EXPECT_EQ(object->classData, nullptr);
  const uint8_t data[13] = {7, 7, 7};
  TlxStorePrototypeClassData(1, data, sizeof data);
  EXPECT_EQ(object->classData, nullptr);

  TlxStorePrototypeTemplateData(1, data, 0);  // a count of 0 attaches null as well
  EXPECT_EQ(object->templateData, nullptr);
  TlxStorePrototypeTemplateData(1, data, 8);
  EXPECT_EQ(object->templateData, nullptr);
}

TEST_F(ObjectTest, SecondStoreOfTheSameKindKeepsTheFirstBytes) {
  TlxObject* object = TlxCreatePrototype(1, 10, 20);
  const uint8_t first[13] = {1, 1, 1, 1};
  const uint8_t second[13] = {2, 2, 2, 2};
  TlxStorePrototypeClassData(1, first, sizeof first);
  void* block = object->classData;
  TlxStorePrototypeClassData(1, second, sizeof second);
  EXPECT_EQ(object->classData, block);
  EXPECT_EQ(Bytes(object->classData, 13), Bytes(first, 13));
}

// A registered type fixes the block size: a short copy is padded with zeros and a long one cut,
// so later reads and copies of the full type size stay inside the block.
struct StoreCase {
  const char* name;
  uint32_t count;
};

class DataBlockSize : public ObjectTest, public testing::WithParamInterface<StoreCase> {};

TEST_P(DataBlockSize, BlockHasTheClassSizeWhateverTheCount) {
  std::vector<uint8_t> given(GetParam().count);
  for (size_t i = 0; i < given.size(); ++i) given[i] = static_cast<uint8_t>(0xA0 + i);
  TlxObject* prototype = TlxCreatePrototype(1, 10, kNoType);
  TlxStorePrototypeClassData(1, given.data(), GetParam().count);
  ASSERT_NE(prototype->classData, nullptr);
  std::vector<uint8_t> expected(13, 0);
  std::memcpy(expected.data(), given.data(), std::min<size_t>(13, given.size()));
  EXPECT_EQ(Bytes(prototype->classData, 13), expected);

  // The instance copies 13 bytes from it; release and re-create reuse the block (ASan checks
  // every byte of both copies).
  for (uint32_t round = 0; round < 3; ++round) {
    TlxObject* instance = TlxCreateInstanceFromPrototype(2, 1);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(Bytes(instance->classData, 13), expected);
    TlxReleaseInstance(2);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, DataBlockSize,
                         testing::Values(StoreCase{"Short1", 1}, StoreCase{"Short3", 3},
                                         StoreCase{"Exact", 13}, StoreCase{"Long", 40}),
                         [](const testing::TestParamInfo<StoreCase>& c) { return c.param.name; });

TEST_F(ObjectTest, UnregisteredTypeKeepsTheGivenCount) {
  TlxObject* object = TlxCreateEmptyInstance(1, 400, kNoType, kNoId);
  const uint8_t data[3] = {1, 2, 3};
  TlxStoreInstanceClassData(1, data, sizeof data);
  ASSERT_NE(object->classData, nullptr);
  EXPECT_EQ(Bytes(object->classData, 3), Bytes(data, 3));
  TlxReleaseInstance(1);  // filed under its real size of 3 (ASan: no overrun on reuse)
  TlxObject* again = TlxCreateEmptyInstance(1, 400, kNoType, kNoId);
  const uint8_t other[3] = {4, 5, 6};
  TlxStoreInstanceClassData(1, other, sizeof other);
  EXPECT_EQ(Bytes(again->classData, 3), Bytes(other, 3));
}

// Data stored while another region is current belongs to the object's region: dropping the
// current region must not take the prototype's block with it.
TEST_F(ObjectTest, DataBlocksLiveInTheObjectsRegion) {
  TlxObject* prototype = TlxCreatePrototype(1, 10, 20);
  TlxBeginRegionWithId(5);
  const uint8_t data[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  TlxStorePrototypeClassData(1, data, sizeof data);
  TlxObject* visitor = TlxCreateInstanceFromPrototype(2, 1);  // lives in region 5
  ASSERT_NE(visitor, nullptr);
  TlxEndRegion();
  TlxDropRegionData(5);
  EXPECT_FALSE(TlxIsInstanceRegistered(2));
  EXPECT_EQ(TlxGetPrototype(1), prototype);
  EXPECT_EQ(Bytes(prototype->classData, 13), Bytes(data, 13));
  // Region 0 instances made afterwards still copy the intact block.
  TlxObject* local = TlxCreateInstanceFromPrototype(3, 1);
  EXPECT_EQ(Bytes(local->classData, 13), Bytes(data, 13));
}

// ---- Member access ---------------------------------------------------------------------------

TEST_F(ObjectTest, MembersByOffsetAndByName) {
  TlxObject* object = MakeFilledPrototype(1, 0);
  EXPECT_EQ(TlxGetCMember(object, 0), object->classData);
  EXPECT_EQ(TlxGetCMember(object, 5), static_cast<uint8_t*>(object->classData) + 5);
  EXPECT_EQ(TlxGetConstCMember(object, 5), TlxGetCMember(object, 5));
  EXPECT_EQ(TlxGetTMember(object, 4), static_cast<uint8_t*>(object->templateData) + 4);
  EXPECT_EQ(TlxGetConstTMember(object, 4), TlxGetTMember(object, 4));

  EXPECT_EQ(TlxGetCMemberByName(object, "m0"), object->classData);
  EXPECT_EQ(TlxGetCMemberByName(object, "m2"), static_cast<uint8_t*>(object->classData) + 5);
  EXPECT_EQ(TlxGetConstCMemberByName(object, "m1"), static_cast<uint8_t*>(object->classData) + 4);
  EXPECT_EQ(TlxGetTMemberByName(object, "t1"), static_cast<uint8_t*>(object->templateData) + 4);
  EXPECT_EQ(TlxGetConstTMemberByName(object, "t0"), object->templateData);

  EXPECT_EQ(TlxGetCMemberByName(object, "nope"), nullptr);
  EXPECT_EQ(TlxGetCMemberByName(object, "t0"), nullptr);  // a template member, not a class one
  EXPECT_EQ(TlxGetTMemberByName(object, "m0"), nullptr);
}

TEST_F(ObjectTest, MembersOfUnattachedDataAreNull) {
  TlxObject* object = TlxCreatePrototype(1, 10, 20);
  EXPECT_EQ(TlxGetCMember(object, 0), nullptr);
  EXPECT_EQ(TlxGetConstCMember(object, 4), nullptr);
  EXPECT_EQ(TlxGetTMember(object, 0), nullptr);
  EXPECT_EQ(TlxGetConstTMember(object, 4), nullptr);
  EXPECT_EQ(TlxGetCMemberByName(object, "m0"), nullptr);
  EXPECT_EQ(TlxGetTMemberByName(object, "t0"), nullptr);
}

// Data stored before its class was registered keeps the given size; a member beyond it is null.
TEST_F(ObjectTest, MemberPastAShortBlockIsNull) {
  TlxObject* object = TlxCreatePrototype(1, 50, kNoType);
  const uint8_t data[4] = {1, 2, 3, 4};
  TlxStorePrototypeClassData(1, data, sizeof data);
  RegisterClass("Late", 50, {{kDWord, 1}, {kDWord, 1}});
  EXPECT_EQ(TlxGetCMemberByName(object, "m0"), object->classData);
  EXPECT_EQ(TlxGetCMemberByName(object, "m1"), nullptr);
}

// An instance's copy has the registered size even when its source block is shorter: the bytes
// the source lacks are zeros, never read from past the source (ASan checks).
TEST_F(ObjectTest, InstanceOfAShortSourceBlockIsPaddedWithZeros) {
  TlxCreatePrototype(1, 51, kNoType);
  const uint8_t data[4] = {1, 2, 3, 4};
  TlxStorePrototypeClassData(1, data, sizeof data);
  RegisterClass("Later", 51, {{kDWord, 1}, {kDWord, 1}, {kDWord, 1}, {kDWord, 1}});  // 16 bytes
  TlxObject* instance = TlxCreateInstanceFromPrototype(2, 1);
  ASSERT_NE(instance->classData, nullptr);
  std::vector<uint8_t> expected(16, 0);
  std::memcpy(expected.data(), data, sizeof data);
  EXPECT_EQ(Bytes(instance->classData, 16), expected);
  EXPECT_EQ(TlxGetCMemberByName(instance, "m3"), static_cast<uint8_t*>(instance->classData) + 12);
}

TEST_F(ObjectTest, MembersOfAnUnknownClassAreNull) {
  TlxObject* object = TlxCreatePrototype(1, 77, kNoType);
  const uint8_t data[8] = {};
  TlxStorePrototypeClassData(1, data, sizeof data);
  EXPECT_EQ(TlxGetCMemberByName(object, "m0"), nullptr);
  EXPECT_EQ(TlxGetCMember(object, 2), static_cast<const uint8_t*>(object->classData) + 2);
}

// ---- Release and slot reuse ------------------------------------------------------------------

TEST_F(ObjectTest, ReleasedSlotIsReusedAtTheSameAddress) {
  MakeFilledPrototype(1, 0);
  TlxObject* first = TlxCreateInstanceFromPrototype(7, 1);
  TlxCreateInstanceFromPrototype(8, 1);
  TlxReleaseInstance(7);
  EXPECT_FALSE(TlxIsInstanceRegistered(7));
  EXPECT_EQ(TlxGetInstance(7), nullptr);
  EXPECT_TRUE(TlxIsInstanceRegistered(8));
  TlxObject* reused = TlxCreateInstanceFromPrototype(9, 1);
  EXPECT_EQ(reused, first);
  EXPECT_EQ(TlxGetObjectId(reused), 9u);
  EXPECT_EQ(TlxGetInstance(9), reused);
}

TEST_F(ObjectTest, ReleaseOfAnUnknownIdChangesNothing) {
  MakeFilledPrototype(1, 0);
  TlxObject* instance = TlxCreateInstanceFromPrototype(7, 1);
  TlxReleaseInstance(8);
  TlxReleaseInstance(1);  // a prototype id, not an instance
  EXPECT_EQ(TlxGetInstance(7), instance);
  EXPECT_TRUE(TlxIsPrototypeRegistered(1));
}

// Ids may repeat; a release takes exactly one of the items and leaves the other whole.
TEST_F(ObjectTest, ReleaseOfARepeatedIdTakesOneItem) {
  MakeFilledPrototype(1, 0);
  TlxObject* a = TlxCreateInstanceFromPrototype(7, 1);
  TlxObject* b = TlxCreateInstanceFromPrototype(7, 1);
  TlxReleaseInstance(7);
  TlxObject* left = TlxGetInstance(7);
  ASSERT_TRUE(left == a || left == b);
  EXPECT_EQ(Bytes(left->classData, 13), Bytes(TlxGetPrototype(1)->classData, 13));
  TlxReleaseInstance(7);
  EXPECT_FALSE(TlxIsInstanceRegistered(7));
}

// Handles stay put while the pools grow by whole chunks.
TEST_F(ObjectTest, HandlesStayValidWhilePoolsGrow) {
  constexpr uint32_t kCount = 100000;
  std::vector<TlxObject*> handles(kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    handles[i] = TlxCreatePrototype(i, static_cast<uint16_t>(i % 1000), 20);
    TlxStorePrototypeTemplateData(i, &i, sizeof i);
  }
  for (uint32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(TlxGetPrototype(i), handles[i]) << i;
    ASSERT_EQ(handles[i]->classId, i % 1000) << i;
    uint32_t stored;
    std::memcpy(&stored, handles[i]->templateData, sizeof stored);
    ASSERT_EQ(stored, i);
  }
}

// Steady play allocates nothing: slots and data blocks come back from the region's free lists.
TEST_F(ObjectTest, CreateAndReleaseAllocateNothingAfterWarmUp) {
  MakeFilledPrototype(1, 0);
  constexpr uint32_t kCount = 10000;
  auto round = [] {
    for (uint32_t i = 0; i < kCount; ++i) ASSERT_NE(TlxCreateInstanceFromPrototype(i, 1), nullptr);
    for (uint32_t i = 0; i < kCount; ++i) TlxReleaseInstance(i);
  };
  round();
  const uint64_t before = Counters().allocateCalls.load();
  const uint64_t blocksBefore = Bravik::Memory::GetMemoryStatistics().liveBlocks;
  round();
  round();
  EXPECT_EQ(Counters().allocateCalls.load(), before);
  EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().liveBlocks, blocksBefore);
}

// ---- Absent results --------------------------------------------------------------------------

TEST_F(ObjectTest, NullHandlesAndUnknownIdsGiveAbsentResults) {
  EXPECT_EQ(TlxGetCMember(nullptr, 0), nullptr);
  EXPECT_EQ(TlxGetConstCMember(nullptr, 0), nullptr);
  EXPECT_EQ(TlxGetTMember(nullptr, 0), nullptr);
  EXPECT_EQ(TlxGetConstTMember(nullptr, 0), nullptr);
  EXPECT_EQ(TlxGetCMemberByName(nullptr, "m0"), nullptr);
  EXPECT_EQ(TlxGetConstCMemberByName(nullptr, "m0"), nullptr);
  EXPECT_EQ(TlxGetTMemberByName(nullptr, "t0"), nullptr);
  EXPECT_EQ(TlxGetConstTMemberByName(nullptr, "t0"), nullptr);
  TlxObject* object = MakeFilledPrototype(1, 0);
  EXPECT_EQ(TlxGetCMemberByName(object, nullptr), nullptr);
  EXPECT_EQ(TlxGetTMemberByName(object, nullptr), nullptr);

  EXPECT_FALSE(TlxIsPrototypeRegistered(2));
  EXPECT_EQ(TlxGetPrototype(2), nullptr);
  EXPECT_FALSE(TlxIsInstanceRegistered(2));
  EXPECT_EQ(TlxGetInstance(2), nullptr);
  const uint8_t data[13] = {};
  TlxStorePrototypeClassData(2, data, sizeof data);  // nothing to store into
  TlxStoreInstanceTemplateData(2, data, 8);
  EXPECT_FALSE(TlxIsPrototypeRegistered(2));
  EXPECT_FALSE(TlxIsInstanceRegistered(2));
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
  EXPECT_EQ(TlxGetCMember(&fake, 0), nullptr);
  EXPECT_EQ(TlxGetConstCMember(&fake, 0), nullptr);
  EXPECT_EQ(TlxGetTMember(&fake, 0), nullptr);
  EXPECT_EQ(TlxGetConstTMember(&fake, 0), nullptr);
  EXPECT_EQ(TlxGetCMemberByName(&fake, "m0"), nullptr);
  EXPECT_EQ(TlxGetConstCMemberByName(&fake, "m0"), nullptr);
  EXPECT_EQ(TlxGetTMemberByName(&fake, "t0"), nullptr);
  EXPECT_EQ(TlxGetConstTMemberByName(&fake, "t0"), nullptr);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

TEST(ObjectExportsBeforeStart, GiveAbsentResults) { ExpectObjectExportsAbsent(); }

TEST(ObjectExportsAfterShutdown, GiveAbsentResults) {
  ASSERT_TRUE(StartLibrary());
  TlxCreatePrototype(1, 10, 20);
  TlxShutdown();
  ExpectObjectExportsAbsent();
}

}  // namespace
