// The default catalogue: every class size and member offset, order, repeat registration,
// recorded names and the region it lives in.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "repository/DefaultClasses.h"
#include "repository/TypeRegistry.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;

struct ExpectedMember { const char* name; uint32_t code, offset; };
struct ExpectedClass { const char* name; uint16_t id; uint32_t size; std::vector<ExpectedMember> members; };

constexpr uint32_t kUByte = 1, kText = 10, kBlob = 11, kRef = 16, kList = 17, kScript = 18;

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

class DefaultClasses : public testing::Test {
 protected:
  void TearDown() override { TlxShutdown(); }
};

// Registered in catalogue order, without templates, each with its size, members and offsets, and
// with every name recorded when recording is on.
TEST_F(DefaultClasses, EveryClassHasItsSizeMembersOffsetsAndRecordedNames) {
  ASSERT_TRUE(StartLibrary(1));
  TlxRegisterDefaultClasses();
  Quorin::Repository& repository = *Quorin::Repository::Get();
  std::vector<uint16_t> ids, expectedIds;
  Quorin::WalkTypes(repository, Quorin::kAllRegions, Quorin::ETypeKind::kClass,
                    [&](Quorin::CTypeInfo_Internal& type) { return ids.push_back(type.GetId()), true; });
  for (const ExpectedClass& c : kExpected) expectedIds.push_back(c.id);
  EXPECT_EQ(ids, expectedIds);
  EXPECT_EQ(repository.Index().templates.count, 0u);
  for (const ExpectedClass& c : kExpected) {
    SCOPED_TRACE(c.name);
    const TlxTypeInfo* type = TlxGetClassType(c.id);
    EXPECT_EQ(type->nameHash, TlxCalculateTextId(c.name));
    EXPECT_STREQ(repository.FindRecordedName(type->nameHash), c.name);
    EXPECT_EQ(type->sizeByte, c.size);
    ASSERT_EQ(type->memberCount, c.members.size());
    for (uint32_t i = 0; i < c.members.size(); ++i) {
      const ExpectedMember& m = c.members[i];
      const TlxMember* record = TlxGetClassMemberByIndex(c.id, i);
      EXPECT_EQ(record->nameHash, TlxCalculateTextId(m.name)) << m.name;
      EXPECT_STREQ(repository.FindRecordedName(record->nameHash), m.name);
      EXPECT_EQ(record->typeWord, (1u << 5) | m.code) << m.name;
      EXPECT_EQ(TlxGetClassMemberByOffset(c.id, m.offset), record) << m.name;
    }
  }
  EXPECT_EQ(TlxGetClassMemberOffset(0xFFC0, "Name"), 0xFFFFFFFFu);  // only its own members
}

// A second call registers nothing new, a host class under a reserved id keeps its place, the
// catalogue goes with its region and nothing is recorded when recording is off.
TEST_F(DefaultClasses, RegisterOnceBesideHostClassesAndGoWithTheirRegion) {
  ASSERT_TRUE(StartLibrary(0));
  const TlxMember member = Member("Own", kDWord);
  TlxRegisterClassType("HostHub", 0xFF0F, &member, 1);
  TlxBeginRegionWithId(2);
  TlxRegisterDefaultClasses();
  TlxRegisterDefaultClasses();
  TlxEndRegion();
  Quorin::Repository& repository = *Quorin::Repository::Get();
  EXPECT_EQ(repository.Index().classes.count, Quorin::kDefaultClassCount);
  EXPECT_EQ(TlxGetClassSizeByte(0xFF0F), 4u);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFF0), 22u);
  EXPECT_EQ(repository.Index().names.count, 0u);
  TlxDropRegionData(2);
  EXPECT_EQ(repository.Index().classes.count, 1u);
  TlxRegisterDefaultClasses();  // after the drop the ids are free again
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 19u);
}

}  // namespace
