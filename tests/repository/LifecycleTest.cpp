// Start-up, shutdown, clear, regions and the boundary policy of the lifecycle exports.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "foundation/string/String.h"
#include "capi/Frame.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Quorin::Repository;

constexpr uint16_t kVersion = 17;

uint32_t Hash(const char* text) { return Bravik::CalculateHash(Bravik::CString(text)); }

void RegisterClass(const char* name, uint16_t id, uint32_t memberCount = 1) {
  std::vector<TlxMember> members;
  for (uint32_t i = 0; i < memberCount; ++i) members.push_back(TlxMember{i + 1, (1u << 5) | 4u});
  TlxRegisterClassType(name, id, members.data(), memberCount);
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TlxInitialize(kVersion, 0)); }
  void TearDown() override { TlxShutdown(); }
};

TEST(StartUpTest, OnlyVersion17Starts) {
  struct Case { uint16_t version; bool started; };
  for (const Case& c : {Case{16, false}, Case{18, false}, Case{0, false}, Case{17, true}}) {
    EXPECT_EQ(TlxInitialize(c.version, 0), c.started) << c.version;
    EXPECT_EQ(Repository::Get() != nullptr, c.started) << c.version;
  }
  TlxShutdown();
}

TEST(StartUpTest, SecondStartKeepsTheRepositoryAndItsFlags) {
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  Repository* first = Repository::Get();
  EXPECT_TRUE(TlxInitialize(kVersion, 1));
  EXPECT_EQ(Repository::Get(), first);
  EXPECT_FALSE(first->RecordsNames());
  TlxShutdown();
}

TEST(StartUpTest, DetailedStartKeepsTheRunningAllocator) {
  ASSERT_TRUE(TlxInitializeDetailed(kVersion, 1, QuorinTest::CountingAllocate,
                                    QuorinTest::CountingReallocate, QuorinTest::CountingFree, ~0ull));
  EXPECT_TRUE(Repository::Get()->RecordsNames());
  const uint64_t before = QuorinTest::Counters().allocateCalls.load();
  RegisterClass("Counted", 3, 40);  // a fresh region pool reaches the host callbacks
  EXPECT_GT(QuorinTest::Counters().allocateCalls.load(), before);
  TlxShutdown();
  EXPECT_FALSE(TlxInitializeDetailed(16, 0, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(Repository::Get(), nullptr);
}

TEST(StartUpTest, ShutdownFreesEverythingAndAllowsAFreshStart) {
  ASSERT_TRUE(TlxInitialize(kVersion, 1));
  RegisterClass("Gone", 1);
  TlxBeginRegionWithId(9);
  RegisterClass("AlsoGone", 2);
  TlxShutdown();
  EXPECT_EQ(Repository::Get(), nullptr);
  TlxShutdown();  // a second shutdown does nothing
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  EXPECT_FALSE(TlxIsClassRegistered(1));
  EXPECT_EQ(Repository::Get()->RegionCount(), 1u);
  EXPECT_EQ(Repository::Get()->CurrentRegionId(), 0);
  TlxShutdown();
}

TEST_F(LibraryTest, FreshBeginRegionGivesOneAndDoesNotNest) {
  EXPECT_EQ(TlxBeginRegion(), 1);
  EXPECT_EQ(TlxBeginRegion(), 1);
  EXPECT_EQ(Repository::Get()->RegionCount(), 2u);
  EXPECT_EQ(TlxEndRegion(), 0);
  EXPECT_EQ(Repository::Get()->CurrentRegionId(), 0);
}

TEST_F(LibraryTest, BeginRegionStartsFromTheRegionCount) {
  TlxBeginRegionWithId(5);
  TlxEndRegion();
  EXPECT_EQ(TlxBeginRegion(), 2);  // two regions exist, 2 is free
  TlxEndRegion();
  TlxCreateRegion(3);  // four regions: 4 is the first free candidate
  EXPECT_EQ(TlxBeginRegion(), 4);
  TlxEndRegion();
  TlxCreateRegion(6);  // six regions: 6 is taken, 7 is free
  EXPECT_EQ(TlxBeginRegion(), 7);
}

TEST_F(LibraryTest, BeginRegionWithIdWhileARegionIsCurrentDoesNothing) {
  TlxBeginRegionWithId(5);
  TlxBeginRegionWithId(7);
  EXPECT_EQ(Repository::Get()->CurrentRegionId(), 5);
  EXPECT_EQ(Repository::Get()->FindRegion(7), nullptr);
  TlxEndRegion();
  TlxBeginRegionWithId(5);  // an existing region becomes current again, not a second one
  EXPECT_EQ(Repository::Get()->RegionCount(), 2u);
}

TEST_F(LibraryTest, CreateRegionDoesNotMakeItCurrent) {
  TlxCreateRegion(12);
  TlxCreateRegion(12);
  EXPECT_NE(Repository::Get()->FindRegion(12), nullptr);
  EXPECT_EQ(Repository::Get()->RegionCount(), 2u);
  EXPECT_EQ(Repository::Get()->CurrentRegionId(), 0);
}

TEST_F(LibraryTest, ItemsGoToTheCurrentRegion) {
  RegisterClass("InZero", 1);
  TlxBeginRegionWithId(4);
  RegisterClass("InFour", 2);
  TlxEndRegion();
  EXPECT_EQ(static_cast<Quorin::CTypeInfo_Internal*>(Quorin::InterfaceOf(TlxGetClassType(1)))->regionId, 0);
  EXPECT_EQ(static_cast<Quorin::CTypeInfo_Internal*>(Quorin::InterfaceOf(TlxGetClassType(2)))->regionId, 4);
}

TEST_F(LibraryTest, DropRemovesExactlyTheRegionsItems) {
  RegisterClass("Kept", 1);
  TlxRegisterTemplateType("KeptTemplate", 1, nullptr, 0, nullptr, 0);
  const uint16_t region = TlxBeginRegion();
  RegisterClass("Dropped", 2);
  TlxRegisterTemplateType("DroppedTemplate", 2, nullptr, 0, nullptr, 0);
  TlxEndRegion();
  TlxDropRegionData(77);  // unknown: nothing happens
  EXPECT_EQ(Repository::Get()->RegionCount(), 2u);
  TlxDropRegionData(region);
  EXPECT_TRUE(TlxIsClassRegistered(1));
  EXPECT_TRUE(TlxIsTemplateRegistered(1));
  EXPECT_FALSE(TlxIsClassRegistered(2));
  EXPECT_FALSE(TlxIsTemplateRegistered(2));
  EXPECT_EQ(Repository::Get()->Index().classes.count, 1u);
  EXPECT_EQ(Repository::Get()->Index().templates.count, 1u);
  // The region stays, empty, and can be filled again.
  ASSERT_NE(Repository::Get()->FindRegion(region), nullptr);
  TlxBeginRegionWithId(region);
  RegisterClass("Refilled", 2);
  TlxEndRegion();
  EXPECT_TRUE(TlxIsClassRegistered(2));
}

TEST_F(LibraryTest, DropLeavesASameIdItemOfAnotherRegionIntact) {
  RegisterClass("ZeroFive", 5, 1);
  TlxBeginRegionWithId(1);
  RegisterClass("OneFive", 5, 3);  // the same id again, in region 1
  TlxEndRegion();
  TlxDropRegionData(1);
  ASSERT_TRUE(TlxIsClassRegistered(5));
  EXPECT_EQ(TlxGetClassType(5)->nameHash, Hash("ZeroFive"));
  EXPECT_EQ(Repository::Get()->Index().classes.count, 1u);
}

TEST_F(LibraryTest, DropOfTheCurrentRegionKeepsItCurrent) {
  TlxBeginRegionWithId(3);
  RegisterClass("Current", 8);
  TlxDropRegionData(3);
  EXPECT_FALSE(TlxIsClassRegistered(8));
  EXPECT_EQ(Repository::Get()->CurrentRegionId(), 3);
  RegisterClass("Again", 8);
  EXPECT_TRUE(TlxIsClassRegistered(8));
}

TEST_F(LibraryTest, DropKeepsRecordedNames) {
  TlxShutdown();
  ASSERT_TRUE(TlxInitialize(kVersion, 1));
  TlxBeginRegionWithId(2);
  RegisterClass("Remembered", 4);
  TlxDropRegionData(2);
  EXPECT_STREQ(Repository::Get()->FindRecordedName(Hash("Remembered")), "Remembered");
}

TEST_F(LibraryTest, ClearEmptiesEverythingAndLeavesRegionZeroCurrent) {
  TlxShutdown();
  ASSERT_TRUE(TlxInitialize(kVersion, 1));
  RegisterClass("Before", 1);
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateFeature("Pending");
  TlxBeginRegionWithId(6);
  RegisterClass("InSix", 2);
  TlxClearRepository();
  Repository* repository = Repository::Get();
  ASSERT_NE(repository, nullptr);
  EXPECT_FALSE(TlxIsClassRegistered(1));
  EXPECT_FALSE(TlxIsClassRegistered(2));
  EXPECT_EQ(repository->CurrentRegionId(), 0);
  EXPECT_EQ(repository->RegionCount(), 1u);
  EXPECT_EQ(repository->FindRecordedName(Hash("Before")), nullptr);
  EXPECT_TRUE(repository->Index().pendingFeatures.IsEmpty());
  EXPECT_TRUE(repository->RecordsNames());  // the start-up flags stay
  EXPECT_EQ(TlxBeginRegion(), 1);  // ids start over
  TlxEndRegion();
  RegisterClass("After", 1);  // and the Repository stays usable
  EXPECT_TRUE(TlxIsClassRegistered(1));
}

TEST(RecordNamesTest, NamesAreKeptOnlyWhenStartedWithTheFlag) {
  struct Case { uint8_t flags; bool kept; };
  for (const Case& c : {Case{0, false}, Case{1, true}, Case{2, false}, Case{3, true}}) {
    ASSERT_TRUE(TlxInitialize(kVersion, c.flags));
    Repository* repository = Repository::Get();
    TlxBeginClassType(0xFFFF);
    TlxAddClassMember("Weight", 8, 1);
    TlxEndClassType("Crate", 20);
    TlxBeginTemplateType(0xFFFF);
    TlxAddTemplateFeature("Heavy");
    TlxEndTemplateType("CrateTemplate", 20);
    for (const char* name : {"Weight", "Crate", "Heavy", "CrateTemplate"}) {
      const char* recorded = repository->FindRecordedName(Hash(name));
      EXPECT_STREQ(recorded, c.kept ? name : nullptr) << int(c.flags) << name;
    }
    EXPECT_EQ(repository->Index().names.count, c.kept ? 4u : 0u);
    TlxShutdown();
  }
}

TEST(RecordNamesTest, RecordNameGivesTheHashOnlyWhileRecording) {
  ASSERT_TRUE(TlxInitialize(kVersion, 1));
  const Bravik::CString name("Twice");
  EXPECT_EQ(Repository::Get()->RecordName(name), Hash("Twice"));
  EXPECT_EQ(Repository::Get()->RecordName(name), Hash("Twice"));
  EXPECT_EQ(Repository::Get()->Index().names.count, 1u);  // one copy per hash
  TlxShutdown();
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  EXPECT_EQ(Repository::Get()->RecordName(name), Quorin::kNoId32);
  EXPECT_EQ(Repository::Get()->HashAndRecordName("Twice"), Hash("Twice"));
  TlxShutdown();
}

TEST_F(LibraryTest, WalksVisitOneRegionOrAllInPoolOrder) {
  RegisterClass("A", 1);
  TlxBeginRegionWithId(64);  // bucket 1 (64 >> 6 ^ 64) & 63
  RegisterClass("B", 2);
  RegisterClass("C", 3);
  TlxEndRegion();
  TlxRegisterTemplateType("T", 4, nullptr, 0, nullptr, 0);
  RegisterClass("D", 5);
  Repository& repository = *Repository::Get();

  auto collect = [&](uint16_t region, Quorin::ETypeKind kind) {
    std::vector<uint16_t> ids;
    Quorin::WalkTypes(repository, region, kind,
                      [&](Quorin::CTypeInfo_Internal& type) { return ids.push_back(type.GetId()), true; });
    return ids;
  };
  EXPECT_EQ(collect(Quorin::kAllRegions, Quorin::ETypeKind::kClass), (std::vector<uint16_t>{1, 5, 2, 3}));
  EXPECT_EQ(collect(64, Quorin::ETypeKind::kClass), (std::vector<uint16_t>{2, 3}));
  EXPECT_EQ(collect(0, Quorin::ETypeKind::kTemplate), (std::vector<uint16_t>{4}));
  EXPECT_TRUE(collect(9, Quorin::ETypeKind::kClass).empty());
}

TEST_F(LibraryTest, AFalseAnswerEndsOnlyTheCurrentRegionsWalk) {
  RegisterClass("A", 1);
  RegisterClass("B", 2);
  TlxBeginRegionWithId(64);
  RegisterClass("C", 3);
  RegisterClass("D", 4);
  TlxEndRegion();
  std::vector<uint16_t> ids;
  Repository::Get()->WalkItems(Quorin::kAllRegions, &Quorin::Region::types,
                               [&](Quorin::CTypeInfo_Internal& type) { return ids.push_back(type.GetId()), false; });
  EXPECT_EQ(ids, (std::vector<uint16_t>{1, 3}));
}

// Every lifecycle, region and type export with the library not started (before the first start
// or after a shutdown): absent results, nothing created.
void ExpectEveryExportAbsent() {
  EXPECT_EQ(Repository::Get(), nullptr);
  TlxClearRepository();
  EXPECT_EQ(TlxBeginRegion(), 0);
  TlxBeginRegionWithId(3);
  TlxCreateRegion(3);
  EXPECT_EQ(TlxEndRegion(), 0);
  TlxDropRegionData(3);
  TlxTypeInfo typeHandle{};
  TlxObject objectHandle{};
  TlxReferenceList listHandle{};
  EXPECT_EQ(TlxGetTypeId(&typeHandle), 0xFFFF);  // not even dereferenced
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
  EXPECT_FALSE(TlxIsClassRegistered(1));
  EXPECT_FALSE(TlxIsTemplateRegistered(1));
  EXPECT_EQ(TlxGetClassType(0xFFC0), nullptr);
  EXPECT_EQ(TlxGetTemplateType(1), nullptr);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 0u);
  EXPECT_EQ(TlxGetTemplateSizeByte(1), 0u);
  EXPECT_EQ(TlxGetClassMemberOffset(0xFFC0, "Target"), 0xFFFFFFFFu);
  EXPECT_EQ(TlxGetTemplateMemberOffset(1, "m"), 0xFFFFFFFFu);
  EXPECT_EQ(TlxGetClassMember(0xFFC0, "Target"), nullptr);
  EXPECT_EQ(TlxGetTemplateMember(1, "m"), nullptr);
  EXPECT_EQ(TlxGetClassMemberByIndex(0xFFC0, 0), nullptr);
  EXPECT_EQ(TlxGetTemplateMemberByIndex(1, 0), nullptr);
  EXPECT_EQ(TlxGetClassMemberByOffset(0xFFC0, 0), nullptr);
  EXPECT_EQ(TlxGetTemplateMemberByOffset(1, 0), nullptr);
  EXPECT_FALSE(TlxHasFeature(&typeHandle, "f"));
  TlxShutdown();
  EXPECT_EQ(Repository::Get(), nullptr);
}

TEST(BoundaryTest, ExportsBeforeStartUpGiveAbsentResults) {
  ASSERT_EQ(Repository::Get(), nullptr);
  ExpectEveryExportAbsent();
}

TEST(BoundaryTest, ExportsAfterShutdownGiveAbsentResults) {
  ASSERT_TRUE(TlxInitialize(kVersion, 0));
  TlxRegisterDefaultClasses();
  TlxShutdown();
  ExpectEveryExportAbsent();
}

TEST_F(LibraryTest, TypeIdComesThroughTheHandleAndNullHandlesGiveAbsentResults) {
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
  EXPECT_THROW(Quorin::Guard(0, [](Repository&) -> int { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_THROW(Quorin::Guard([](Repository&) { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_EQ(Quorin::GuardAnyTime(3u, []() -> unsigned { throw 2; }), 3u);
}

TEST(BoundaryTest, OutOfMemoryLeavesTheExportAsBadAlloc) {
  ASSERT_TRUE(TlxInitializeDetailed(kVersion, 0, nullptr, nullptr, nullptr, 0));  // limit ignored: set up already
  // Fail the next host allocation: a class with many members needs a new member chunk.
  std::vector<TlxMember> members(5000, TlxMember{1, 32 | 4});
  QuorinTest::Counters().failAtCall = QuorinTest::Counters().allocateCalls.load() +
                                      QuorinTest::Counters().reallocateCalls.load() + 1;
  EXPECT_THROW(TlxRegisterClassType("Huge", 1, members.data(), 5000), std::bad_alloc);
  QuorinTest::Counters().failAtCall = 0;
  EXPECT_FALSE(TlxIsClassRegistered(1));  // nothing half-registered
  TlxRegisterClassType("Huge", 1, members.data(), 5000);
  EXPECT_EQ(TlxGetClassSizeByte(1), 20000u);
  TlxShutdown();
}

}  // namespace
