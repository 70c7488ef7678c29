// The default catalogue: every class size and member offset, order and repeat registration.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "foundation/string/String.h"
#include "repository/DefaultClasses.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"

namespace {

uint32_t Hash(const char* text) { return Bravik::CalculateHash(Bravik::CString(text)); }

struct ExpectedMember { const char* name; uint32_t code, offset; };
struct ExpectedClass { const char* name; uint16_t id; uint32_t size; std::vector<ExpectedMember> members; };

constexpr uint32_t kUByte = 1, kFloat = 8, kText = 10, kBlob = 11, kRef = 16, kList = 17, kScript = 18;

const std::vector<ExpectedMember> kFlowMembers = {
    {"Connections", kList, 0}, {"Parent", kRef, 5}, {"Children", kList, 10}, {"Attachments", kList, 15},
    {"Image", kRef, 20}, {"Name", kText, 25}, {"TechnicalName", kText, 29}, {"Description", kText, 33}};

// In registration order.
const std::vector<ExpectedClass> kExpected = {
    {"ConnectionPart", 0xFFC0, 19,
     {{"Label", kText, 0}, {"Outcome", kScript, 4}, {"Condition", kScript, 9}, {"Target", kRef, 14}}},
    {"FlowFragment", 0xFFF1, 37, kFlowMembers},
    {"Dialog", 0xFFD1, 37, kFlowMembers},
    {"DialogFragment", 0xFFDF, 31,
     {{"Connections", kList, 0}, {"Parent", kRef, 5}, {"Actor", kRef, 10}, {"TechnicalName", kText, 15},
      {"StageDirections", kText, 19}, {"Text", kText, 23}, {"PreviewText", kText, 27}}},
    {"Entity", 0xFFEE, 22,
     {{"Attachments", kList, 0}, {"Image", kRef, 5}, {"Name", kText, 10}, {"TechnicalName", kText, 14},
      {"Description", kText, 18}}},
    {"Hub", 0xFF0F, 22,
     {{"Connections", kList, 0}, {"Parent", kRef, 5}, {"Name", kText, 10}, {"TechnicalName", kText, 14},
      {"Description", kText, 18}}},
    {"Jump", 0xFFF0, 22,
     {{"Parent", kRef, 0}, {"Connection", kRef, 5}, {"Name", kText, 10}, {"TechnicalName", kText, 14},
      {"Description", kText, 18}}},
    {"Asset", 0xFFA5, 21,
     {{"Name", kText, 0}, {"TechnicalName", kText, 4}, {"Description", kText, 8}, {"MimeType", kText, 12},
      {"AssetType", kUByte, 16}, {"Data", kBlob, 17}}},
    {"Location", 0xFF10, 30,
     {{"ScaleX", kFloat, 0}, {"ScaleY", kFloat, 4}, {"Image", kRef, 8}, {"Name", kText, 13},
      {"TechnicalName", kText, 17}, {"Description", kText, 21}, {"Children", kList, 25}}},
    {"Zone", 0xFF70, 27,
     {{"Image", kRef, 0}, {"Name", kText, 5}, {"TechnicalName", kText, 9}, {"Description", kText, 13},
      {"Points", kBlob, 17}, {"Children", kList, 21}, {"ShapeType", kUByte, 26}}},
    {"Path", 0xFF9A, 31,
     {{"StartZone", kRef, 0}, {"TargetZone", kRef, 5}, {"Image", kRef, 10}, {"Name", kText, 15},
      {"TechnicalName", kText, 19}, {"Description", kText, 23}, {"Points", kBlob, 27}}},
    {"Spot", 0xFF59, 17,
     {{"Image", kRef, 0}, {"Name", kText, 5}, {"TechnicalName", kText, 9}, {"Description", kText, 13}}},
    {"Link", 0xFF11, 17,
     {{"Target", kRef, 0}, {"Name", kText, 5}, {"TechnicalName", kText, 9}, {"Description", kText, 13}}},
};

class DefaultClassesTest : public testing::Test {
 protected:
  void Start(uint8_t flags) {
    ASSERT_TRUE(TlxInitialize(17, flags));
    TlxRegisterDefaultClasses();
  }
  void TearDown() override { TlxShutdown(); }
};

// Registered in catalogue order, without templates, each with its size, members and offsets.
TEST_F(DefaultClassesTest, EveryClassHasItsSizeMembersAndOffsets) {
  Start(0);
  std::vector<uint16_t> ids, expectedIds;
  Quorin::WalkTypes(*Quorin::Repository::Get(), Quorin::kAllRegions, Quorin::ETypeKind::kClass,
                    [&](Quorin::CTypeInfo_Internal& type) { return ids.push_back(type.GetId()), true; });
  for (const ExpectedClass& c : kExpected) expectedIds.push_back(c.id);
  EXPECT_EQ(ids, expectedIds);
  EXPECT_EQ(Quorin::Repository::Get()->Index().templates.count, 0u);
  EXPECT_EQ(TlxGetClassMemberOffset(0xFFC0, "Name"), 0xFFFFFFFFu);  // only its own members
  for (const ExpectedClass& c : kExpected) {
    SCOPED_TRACE(c.name);
    TlxTypeInfo* type = TlxGetClassType(c.id);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->nameHash, Hash(c.name));
    EXPECT_EQ(type->sizeByte, c.size);
    EXPECT_EQ(TlxGetClassSizeByte(c.id), c.size);
    ASSERT_EQ(type->memberCount, c.members.size());
    for (uint32_t i = 0; i < c.members.size(); ++i) {
      const ExpectedMember& m = c.members[i];
      const TlxMember* record = TlxGetClassMemberByIndex(c.id, i);
      EXPECT_EQ(record->nameHash, Hash(m.name)) << m.name;
      EXPECT_EQ(record->typeWord, (1u << 5) | m.code) << m.name;
      EXPECT_EQ(TlxGetClassMemberOffset(c.id, m.name), m.offset) << m.name;
      EXPECT_EQ(TlxGetClassMemberByOffset(c.id, m.offset), record) << m.name;
    }
  }
}

TEST_F(DefaultClassesTest, ASecondCallRegistersNothingNew) {
  Start(0);
  TlxRegisterDefaultClasses();
  EXPECT_EQ(Quorin::Repository::Get()->Index().classes.count, Quorin::kDefaultClassCount);
  for (const ExpectedClass& c : kExpected) EXPECT_EQ(TlxGetClassSizeByte(c.id), c.size) << c.name;
}

TEST_F(DefaultClassesTest, AHostClassWithAReservedIdKeepsItsPlace) {
  ASSERT_TRUE(TlxInitialize(17, 0));
  const TlxMember member{Hash("Own"), (1u << 5) | 4u};
  TlxRegisterClassType("HostHub", 0xFF0F, &member, 1);
  TlxRegisterDefaultClasses();
  EXPECT_EQ(TlxGetClassSizeByte(0xFF0F), 4u);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFF0), 22u);  // the rest registered
}

TEST_F(DefaultClassesTest, EveryNameIsRecordedOnlyWhenRecordingIsOn) {
  Start(1);
  Quorin::Repository& repository = *Quorin::Repository::Get();
  for (const ExpectedClass& c : kExpected) {
    EXPECT_STREQ(repository.FindRecordedName(Hash(c.name)), c.name);
    for (const ExpectedMember& m : c.members) EXPECT_STREQ(repository.FindRecordedName(Hash(m.name)), m.name);
  }
  TlxShutdown();
  Start(0);
  EXPECT_EQ(Quorin::Repository::Get()->Index().names.count, 0u);
}

TEST_F(DefaultClassesTest, TheCatalogueGoesWithItsRegion) {
  ASSERT_TRUE(TlxInitialize(17, 0));
  TlxBeginRegionWithId(2);
  TlxRegisterDefaultClasses();
  TlxEndRegion();
  TlxDropRegionData(2);
  EXPECT_EQ(Quorin::Repository::Get()->Index().classes.count, 0u);
  TlxRegisterDefaultClasses();  // after the drop the ids are free again
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 19u);
}

}  // namespace
