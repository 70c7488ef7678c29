// Start-up, shutdown, clear, regions, walks and the boundary policy of the lifecycle exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "foundation/string/String.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Quorin::Repository;

constexpr uint16_t kVersion = 17;

uint32_t Hash(const char* text) { return Bravik::CalculateHash(Bravik::CString(text)); }
Repository& Repo() { return *Repository::Get(); }

void RegisterClass(const char* name, uint16_t id, uint32_t memberCount = 1) {
  const std::vector<TlxMember> members(memberCount, TlxMember{1, (1u << 5) | 4u});
  TlxRegisterClassType(name, id, members.data(), memberCount);
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TlxInitialize(kVersion, 1)); }
  void TearDown() override { TlxShutdown(); }
};

TEST(StartUpTest, OnlyVersion17StartsAndASecondStartKeepsTheFirst) {
  for (uint16_t version : {16, 18, 0}) EXPECT_FALSE(TlxInitialize(version, 0)) << version;
  EXPECT_FALSE(TlxInitializeDetailed(16, 0, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(Repository::Get(), nullptr);
  ASSERT_TRUE(TlxInitializeDetailed(kVersion, 0, QuorinTest::CountingAllocate, QuorinTest::CountingReallocate,
                                    QuorinTest::CountingFree, ~0ull));
  Repository* first = Repository::Get();
  EXPECT_TRUE(TlxInitialize(kVersion, 1));
  EXPECT_EQ(Repository::Get(), first);
  EXPECT_FALSE(first->RecordsNames());
  TlxShutdown();
}

TEST(StartUpTest, ShutdownFreesEverythingAndAllowsAFreshStart) {
  ASSERT_TRUE(TlxInitialize(kVersion, 1));
  RegisterClass("Gone", 1);
  TlxBeginRegionWithId(9);
  RegisterClass("AlsoGone", 2);
  TlxSprigExecute("ns:v = 1, 0x9:v = 2");
  TlxShutdown();
  EXPECT_EQ(Repository::Get(), nullptr);
  TlxShutdown();  // a second shutdown does nothing
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  EXPECT_FALSE(TlxIsClassRegistered(1));
  EXPECT_EQ(Repo().RegionCount(), 1u);
  EXPECT_EQ(Repo().CurrentRegionId(), 0);
  TlxShutdown();
}

// Each step: a call, then the region TlxBeginRegion gives next (after ending the current one).
TEST_F(LibraryTest, BeginRegionStartsFromTheRegionCountAndDoesNotNest) {
  EXPECT_EQ(TlxBeginRegion(), 1);
  EXPECT_EQ(TlxBeginRegion(), 1);
  TlxBeginRegionWithId(7);  // a region is current: no region 7
  EXPECT_EQ(Repo().CurrentRegionId(), 1);
  EXPECT_EQ(Repo().FindRegion(7), nullptr);
  EXPECT_EQ(TlxEndRegion(), 0);
  TlxBeginRegionWithId(5);
  TlxEndRegion();
  TlxBeginRegionWithId(5);  // an existing region becomes current again, not a second one
  TlxEndRegion();
  EXPECT_EQ(TlxBeginRegion(), 3);  // three regions exist, 3 is free
  TlxEndRegion();
  TlxCreateRegion(6);
  TlxCreateRegion(6);
  EXPECT_EQ(Repo().CurrentRegionId(), 0);  // created, not made current
  EXPECT_EQ(Repo().RegionCount(), 5u);
  EXPECT_EQ(TlxBeginRegion(), 7);  // five regions: 5 and 6 are taken
}

TEST_F(LibraryTest, DropRemovesExactlyTheRegionsItemsAndKeepsTheRegion) {
  RegisterClass("Kept", 1);
  RegisterClass("ZeroFive", 5, 1);
  TlxRegisterTemplateType("KeptTemplate", 1, nullptr, 0, nullptr, 0);
  TlxBeginRegionWithId(3);
  RegisterClass("Dropped", 2);
  RegisterClass("ThreeFive", 5, 3);  // the same id again, in region 3
  TlxRegisterTemplateType("DroppedTemplate", 2, nullptr, 0, nullptr, 0);
  EXPECT_EQ(static_cast<Quorin::CTypeInfo_Internal*>(Quorin::InterfaceOf(TlxGetClassType(2)))->regionId, 3);
  TlxDropRegionData(77);  // unknown: nothing happens
  TlxDropRegionData(3);
  EXPECT_TRUE(TlxIsClassRegistered(1) && TlxIsTemplateRegistered(1));
  EXPECT_FALSE(TlxIsClassRegistered(2) || TlxIsTemplateRegistered(2));
  EXPECT_EQ(TlxGetClassType(5)->nameHash, Hash("ZeroFive"));
  EXPECT_EQ(Repo().Index().classes.count, 2u);
  EXPECT_STREQ(Repo().FindRecordedName(Hash("Dropped")), "Dropped");  // names stay
  EXPECT_EQ(Repo().CurrentRegionId(), 3);  // the dropped region stays current and usable
  RegisterClass("Again", 2);
  EXPECT_TRUE(TlxIsClassRegistered(2));
  EXPECT_EQ(Repo().RegionCount(), 2u);
}

TEST_F(LibraryTest, ClearEmptiesEverythingAndLeavesRegionZeroCurrent) {
  RegisterClass("Before", 1);
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateFeature("Pending");
  TlxBeginRegionWithId(6);
  RegisterClass("InSix", 2);
  TlxSprigExecute("ns:v = 1");
  TlxClearRepository();
  EXPECT_FALSE(TlxIsClassRegistered(1) || TlxIsClassRegistered(2));
  EXPECT_EQ(Repo().CurrentRegionId(), 0);
  EXPECT_EQ(Repo().RegionCount(), 1u);
  EXPECT_EQ(Repo().FindRecordedName(Hash("Before")), nullptr);
  EXPECT_TRUE(Repo().Index().pendingFeatures.IsEmpty());
  EXPECT_FALSE(TlxSprigVarExists("ns:v"));
  EXPECT_TRUE(Repo().RecordsNames());  // the start-up flags stay
  EXPECT_EQ(TlxBeginRegion(), 1);      // ids start over
  TlxEndRegion();
  RegisterClass("After", 1);  // and the Repository stays usable
  EXPECT_TRUE(TlxIsClassRegistered(1));
}

TEST(RecordNamesTest, NamesAreKeptOnlyWhenStartedWithTheFlag) {
  for (uint8_t flags : {0, 1, 2, 3}) {
    ASSERT_TRUE(TlxInitialize(kVersion, flags));
    const bool kept = (flags & 1) != 0;
    TlxBeginClassType(0xFFFF);
    TlxAddClassMember("Weight", 8, 1);
    TlxEndClassType("Crate", 20);
    TlxBeginTemplateType(0xFFFF);
    TlxAddTemplateFeature("Heavy");
    TlxEndTemplateType("CrateTemplate", 20);
    for (const char* name : {"Weight", "Crate", "Heavy", "CrateTemplate"}) {
      EXPECT_STREQ(Repo().FindRecordedName(Hash(name)), kept ? name : nullptr) << int(flags) << name;
    }
    EXPECT_EQ(Repo().RecordName(Bravik::CString("Crate")), kept ? Hash("Crate") : Quorin::kNoId32);
    EXPECT_EQ(Repo().HashAndRecordName("Twice"), Hash("Twice"));
    EXPECT_EQ(Repo().Index().names.count, kept ? 5u : 0u);  // one copy per hash
    TlxShutdown();
  }
}

// Regions are visited bucket by bucket, items in pool order; a false answer ends only the
// current region's walk.
TEST_F(LibraryTest, WalksVisitOneRegionOrAllInPoolOrder) {
  RegisterClass("A", 1);
  TlxBeginRegionWithId(64);  // bucket 1: (64 >> 6 ^ 64) & 63
  RegisterClass("B", 2);
  RegisterClass("C", 3);
  TlxEndRegion();
  TlxRegisterTemplateType("T", 4, nullptr, 0, nullptr, 0);
  RegisterClass("D", 5);
  auto collect = [&](uint16_t region, Quorin::ETypeKind kind, bool all = true) {
    std::vector<uint16_t> ids;
    Quorin::WalkTypes(Repo(), region, kind, [&](Quorin::CTypeInfo_Internal& type) {
      return ids.push_back(type.GetId()), all;
    });
    return ids;
  };
  EXPECT_EQ(collect(Quorin::kAllRegions, Quorin::ETypeKind::kClass), (std::vector<uint16_t>{1, 5, 2, 3}));
  EXPECT_EQ(collect(Quorin::kAllRegions, Quorin::ETypeKind::kClass, false), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(collect(64, Quorin::ETypeKind::kClass), (std::vector<uint16_t>{2, 3}));
  EXPECT_EQ(collect(0, Quorin::ETypeKind::kTemplate), (std::vector<uint16_t>{4}));
  EXPECT_TRUE(collect(9, Quorin::ETypeKind::kClass).empty());
}

// Every lifecycle, region and type export with the library not started (before the first start
// or after a shutdown): absent results, nothing created, handles not even dereferenced.
TEST(BoundaryTest, ExportsOutsideTheLibrarysLifeGiveAbsentResults) {
  for (int phase = 0; phase < 2; ++phase) {
    if (phase == 1) {
      ASSERT_TRUE(TlxInitialize(kVersion, 0));
      TlxRegisterDefaultClasses();
      TlxShutdown();
    }
    TlxClearRepository();
    EXPECT_EQ(TlxBeginRegion() + TlxEndRegion(), 0);
    TlxBeginRegionWithId(3);
    TlxCreateRegion(3);
    TlxDropRegionData(3);
    TlxTypeInfo typeHandle{};
    TlxObject objectHandle{};
    TlxReferenceList listHandle{};
    EXPECT_EQ(TlxGetTypeId(&typeHandle), 0xFFFF);
    EXPECT_EQ(TlxGetObjectId(&objectHandle), 0xFFFFFFFFu);
    EXPECT_EQ(TlxGetListId(&listHandle), 0xFFFFFFFFu);
    const TlxMember member{1, 32 | 4};
    const uint32_t feature = 5;
    TlxBeginClassType(0xFFFF);
    TlxAddClassMember("m", 4, 1);
    TlxEndClassType("C", 1);
    TlxRegisterClassType("C", 1, &member, 1);
    TlxBeginTemplateType(0xFFFF);
    TlxAddTemplateFeature("f");
    TlxAddTemplateMember("m", 4, 1);
    TlxEndTemplateType("T", 1);
    TlxRegisterTemplateType("T", 1, &member, 1, &feature, 1);
    TlxRegisterDefaultClasses();
    EXPECT_FALSE(TlxIsClassRegistered(1) || TlxIsTemplateRegistered(1) || TlxHasFeature(&typeHandle, "f"));
    EXPECT_EQ(TlxGetClassType(0xFFC0), nullptr);
    EXPECT_EQ(TlxGetClassSizeByte(0xFFC0) + TlxGetTemplateSizeByte(1), 0u);
    EXPECT_EQ(TlxGetClassMemberOffset(0xFFC0, "Target"), 0xFFFFFFFFu);
    EXPECT_EQ(TlxGetClassMember(0xFFC0, "Target"), nullptr);
    EXPECT_EQ(TlxGetClassMemberByIndex(0xFFC0, 0), nullptr);
    EXPECT_EQ(TlxGetTemplateMemberByOffset(1, 0), nullptr);
    EXPECT_EQ(Repository::Get(), nullptr);
  }
}

TEST_F(LibraryTest, NullHandlesGiveAbsentIds) {
  RegisterClass("Id", 0x1234);
  EXPECT_EQ(TlxGetTypeId(TlxGetClassType(0x1234)), 0x1234);
  EXPECT_EQ(TlxGetTypeId(nullptr), 0xFFFF);
  EXPECT_EQ(TlxGetObjectId(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(TlxGetListId(nullptr), 0xFFFFFFFFu);
  EXPECT_FALSE(TlxHasFeature(nullptr, "f"));
}

// Failures other than out of memory become the absent result; out of memory passes.
TEST_F(LibraryTest, TheFrameTurnsFailuresIntoAbsentResults) {
  EXPECT_EQ(Quorin::Guard(7, [](Repository&) -> int { throw 1; }), 7);
  EXPECT_EQ(Quorin::Guard<void*>(nullptr, [](Repository&) -> void* { throw std::runtime_error("x"); }), nullptr);
  EXPECT_NO_THROW(Quorin::Guard([](Repository&) { throw std::logic_error("y"); }));
  EXPECT_THROW(Quorin::Guard([](Repository&) { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_EQ(Quorin::GuardAnyTime(3u, []() -> unsigned { throw 2; }), 3u);
}

// A class of many members takes blocks of the host: each failing allocation leaves the export as
// bad_alloc with nothing half-registered.
TEST(OutOfMemoryTest, LeavesTheExportAsBadAllocWithNothingHalfDone) {
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  const std::vector<TlxMember> members(5000, TlxMember{1, 32 | 4});
  const uint64_t failures = QuorinTest::ForEachAllocationFailure(
      [&] { TlxRegisterClassType("Huge", 1, members.data(), 5000); },
      [] { EXPECT_FALSE(TlxIsClassRegistered(1)); });
  EXPECT_GT(failures, 0u);
  EXPECT_EQ(TlxGetClassSizeByte(1), 20000u);
  TlxShutdown();
}

}  // namespace
