// Classes and templates: registration, layout, member and feature look-up, the pending lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "foundation/string/String.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"

namespace {

using Quorin::MakeTypeWord;

enum Code : uint32_t {
  kByte = 0, kWord = 2, kDWord = 4, kQWord = 6, kFloat = 8, kDouble = 9, kTextId = 10,
  kReference = 16, kListReference = 17, kScriptReference = 18,
};

uint32_t Hash(const char* text) { return Bravik::CalculateHash(Bravik::CString(text)); }
TlxMember Member(const char* name, uint32_t code, uint32_t count = 1) {
  return TlxMember{Hash(name), MakeTypeWord(code, count)};
}

class TypeRegistryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TlxInitialize(17, 0)); }
  void TearDown() override { TlxShutdown(); }

  // Float, Float, Reference, TextId[3]: offsets 0, 4, 8, 13; size 25.
  void RegisterSample(uint16_t id = 1) {
    const TlxMember members[] = {Member("x", kFloat), Member("y", kFloat), Member("target", kReference),
                                 Member("labels", kTextId, 3)};
    TlxRegisterClassType("Sample", id, members, 4);
  }
};

TEST(MemberTypeTest, ElementSizesAndNamesFollowTheCodes) {
  const struct { uint32_t code, size; const char* name; } cases[] = {{0, 1, "Byte"},           {1, 1, "UnsignedByte"},   {2, 2, "Word"},
                        {3, 2, "UnsignedWord"},   {4, 4, "DWord"},          {5, 4, "UnsignedDWord"},
                        {6, 8, "QWord"},          {7, 8, "UnsignedQWord"},  {8, 4, "Float"},
                        {9, 8, "Double"},         {10, 4, "TextId"},        {11, 4, "BlobId"},
                        {12, 4, "PrototypeId"},   {13, 4, "InstanceId"},    {14, 4, "ListPrototypeId"},
                        {15, 4, "ListInstanceId"}, {16, 5, "Reference"},    {17, 5, "ListReference"},
                        {18, 5, "ScriptReference"}, {19, 0, "Byte"},        {31, 0, "Byte"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Quorin::MemberSize(TlxMember{0, MakeTypeWord(c.code, 1)}), c.size) << c.code;
    EXPECT_STREQ(Quorin::MemberTypeName(c.code), c.name) << c.code;
  }
  EXPECT_EQ(Quorin::MemberSize(TlxMember{0, MakeTypeWord(kDouble, 1000)}), 8000u);
}

TEST_F(TypeRegistryTest, MembersArePackedInDeclarationOrder) {
  RegisterSample();
  TlxTypeInfo* type = TlxGetClassType(1);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->sizeByte, 25u);
  EXPECT_EQ(type->memberCount, 4u);
  EXPECT_EQ(type->nameHash, Hash("Sample"));
  EXPECT_EQ(type->firstFeature, 0xFFFFFFFFu);
  EXPECT_EQ(type->featureCount, 0u);
  EXPECT_EQ(TlxGetClassSizeByte(1), 25u);
  struct Case { const char* name; uint32_t offset; };
  for (const Case& c : {Case{"x", 0}, Case{"y", 4}, Case{"target", 8}, Case{"labels", 13},
                        Case{"missing", 0xFFFFFFFF}}) {
    EXPECT_EQ(TlxGetClassMemberOffset(1, c.name), c.offset) << c.name;
  }
}

TEST_F(TypeRegistryTest, MemberByOffsetFindsOnlyMemberStarts) {
  RegisterSample();
  struct Case { uint32_t offset; const char* member; };  // null member: none starts there
  for (const Case& c : {Case{0, "x"}, Case{4, "y"}, Case{8, "target"}, Case{9, nullptr}, Case{13, "labels"},
                        Case{14, nullptr}, Case{25, nullptr}, Case{0xFFFFFFFF, nullptr}}) {
    TlxMember* member = TlxGetClassMemberByOffset(1, c.offset);
    if (c.member == nullptr) {
      EXPECT_EQ(member, nullptr) << c.offset;
    } else {
      ASSERT_NE(member, nullptr) << c.offset;
      EXPECT_EQ(member->nameHash, Hash(c.member)) << c.offset;
    }
  }
}

TEST_F(TypeRegistryTest, MemberRecordsByNameAndIndexPointIntoTheStoredRecords) {
  RegisterSample();
  TlxMember* byName = TlxGetClassMember(1, "target");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->typeWord, MakeTypeWord(kReference, 1));
  EXPECT_EQ(TlxGetClassMemberByIndex(1, 2), byName);
  EXPECT_EQ(TlxGetClassMemberByIndex(1, 0) + 3, TlxGetClassMemberByIndex(1, 3));  // contiguous
  EXPECT_EQ(TlxGetClassMemberByIndex(1, 4), nullptr);
  EXPECT_EQ(TlxGetClassMember(1, "missing"), nullptr);
  EXPECT_EQ(TlxGetClassMember(1, nullptr), nullptr);
  EXPECT_EQ(TlxGetClassMemberOffset(1, nullptr), 0xFFFFFFFFu);
}

TEST_F(TypeRegistryTest, DuplicateMemberNamesResolveToTheFirst) {
  const TlxMember members[] = {Member("a", kWord), Member("a", kDWord)};
  TlxRegisterClassType("Dup", 2, members, 2);
  EXPECT_EQ(TlxGetClassMemberOffset(2, "a"), 0u);
  EXPECT_EQ(TlxGetClassMember(2, "a"), TlxGetClassMemberByIndex(2, 0));
}

TEST_F(TypeRegistryTest, UnknownTypesGiveAbsentResults) {
  RegisterSample(7);  // a class 7 must not answer for template 7 or class 9
  TlxRegisterTemplateType("T", 8, nullptr, 0, nullptr, 0);
  EXPECT_FALSE(TlxIsClassRegistered(9) || TlxIsTemplateRegistered(7));
  EXPECT_EQ(TlxGetClassType(9), nullptr);
  EXPECT_EQ(TlxGetTemplateType(7), nullptr);
  EXPECT_EQ(TlxGetClassSizeByte(9) + TlxGetTemplateSizeByte(7), 0u);
  EXPECT_EQ(TlxGetClassMemberOffset(9, "x"), 0xFFFFFFFFu);
  EXPECT_EQ(TlxGetTemplateMemberOffset(7, "x"), 0xFFFFFFFFu);
  for (TlxMember* absent : {TlxGetClassMember(9, "x"), TlxGetClassMemberByIndex(9, 0), TlxGetClassMemberByOffset(9, 0),
                            TlxGetTemplateMember(7, "x"), TlxGetTemplateMemberByIndex(7, 0),
                            TlxGetTemplateMemberByOffset(7, 0)}) {
    EXPECT_EQ(absent, nullptr);
  }
}

TEST_F(TypeRegistryTest, ClassesAndTemplatesHaveSeparateIdSpaces) {
  RegisterSample(7);
  EXPECT_TRUE(TlxIsClassRegistered(7));
  const TlxMember member = Member("t", kByte);
  TlxRegisterTemplateType("Seven", 7, &member, 1, nullptr, 0);
  EXPECT_EQ(TlxGetClassSizeByte(7), 25u);
  EXPECT_EQ(TlxGetTemplateSizeByte(7), 1u);
}

TEST_F(TypeRegistryTest, DerivedClassStartsWithTheBaseMembers) {
  RegisterSample(1);
  TlxBeginClassType(1);
  TlxAddClassMember("extra", kDouble, 2);
  TlxEndClassType("Derived", 2);
  EXPECT_EQ(TlxGetClassSizeByte(2), 41u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(TlxGetClassMemberByIndex(2, i)->nameHash, TlxGetClassMemberByIndex(1, i)->nameHash);
  }
  for (const char* name : {"x", "y", "target", "labels"}) {
    EXPECT_EQ(TlxGetClassMemberOffset(2, name), TlxGetClassMemberOffset(1, name)) << name;
  }
  EXPECT_EQ(TlxGetClassMemberOffset(2, "extra"), 25u);
  EXPECT_EQ(TlxGetClassMember(2, "extra")->typeWord, MakeTypeWord(kDouble, 2));
}

TEST_F(TypeRegistryTest, BeginWithAnUnknownBaseStartsEmpty) {
  TlxBeginClassType(0xFFFF);
  TlxAddClassMember("stale", kByte, 1);
  TlxBeginClassType(42);  // unknown: the stale member goes, nothing is copied
  TlxEndClassType("Empty", 3);
  ASSERT_TRUE(TlxIsClassRegistered(3));
  EXPECT_EQ(TlxGetClassType(3)->memberCount, 0u);
  EXPECT_EQ(TlxGetClassSizeByte(3), 0u);
}

TEST_F(TypeRegistryTest, EndKeepsThePendingListForTheNextEnd) {
  TlxBeginClassType(0xFFFF);
  TlxAddClassMember("a", kDWord, 1);
  TlxEndClassType("First", 1);
  TlxAddClassMember("b", kDWord, 1);
  TlxEndClassType("Second", 2);
  EXPECT_EQ(TlxGetClassSizeByte(1), 4u);
  EXPECT_EQ(TlxGetClassSizeByte(2), 8u);
}

TEST_F(TypeRegistryTest, ClassBeginLeavesThePendingTemplateAlone) {
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateMember("m", kWord, 1);
  TlxAddTemplateFeature("F");
  TlxBeginClassType(0xFFFF);
  TlxEndTemplateType("Kept", 1);
  EXPECT_EQ(TlxGetTemplateSizeByte(1), 2u);
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(1), "F"));
}

TEST_F(TypeRegistryTest, ReservedClassIdsRegisterOnceOthersTwice) {
  const TlxMember first = Member("a", kByte);
  const TlxMember second[] = {Member("b", kQWord), Member("c", kQWord)};
  TlxRegisterClassType("Reserved", 0xFFC0, &first, 1);
  TlxRegisterClassType("Reserved2", 0xFFC0, second, 2);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 1u);
  EXPECT_EQ(Quorin::Repository::Get()->Index().classes.count, 1u);
  TlxRegisterClassType("Plain", 5, &first, 1);
  TlxRegisterClassType("Plain2", 5, second, 2);
  EXPECT_EQ(Quorin::Repository::Get()->Index().classes.count, 3u);
  const uint32_t size = TlxGetClassSizeByte(5);
  EXPECT_TRUE(size == 1u || size == 16u);
  // 0xFF00 itself is outside the reserved range; templates have none.
  TlxRegisterClassType("Edge", 0xFF00, &first, 1);
  TlxRegisterClassType("Edge2", 0xFF00, &first, 1);
  TlxRegisterTemplateType("T", 0xFFC0, &first, 1, nullptr, 0);
  TlxRegisterTemplateType("T2", 0xFFC0, &first, 1, nullptr, 0);
  EXPECT_EQ(Quorin::Repository::Get()->Index().classes.count, 5u);
  EXPECT_EQ(Quorin::Repository::Get()->Index().templates.count, 2u);
}

TEST_F(TypeRegistryTest, TemplatesCarryFeatures) {
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateFeature("A");
  TlxAddTemplateFeature("B");
  TlxAddTemplateMember("m", kDWord, 1);
  TlxEndTemplateType("Featured", 1);
  TlxTypeInfo* type = TlxGetTemplateType(1);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->featureCount, 2u);
  EXPECT_NE(type->firstFeature, 0xFFFFFFFFu);
  EXPECT_TRUE(TlxHasFeature(type, "A"));
  EXPECT_TRUE(TlxHasFeature(type, "B"));
  EXPECT_FALSE(TlxHasFeature(type, "C"));
  EXPECT_FALSE(TlxHasFeature(type, nullptr));
  // A derived template starts with the base's features and members.
  TlxBeginTemplateType(1);
  TlxAddTemplateFeature("C");
  TlxEndTemplateType("Derived", 2);
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(2), "A"));
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(2), "C"));
  EXPECT_EQ(TlxGetTemplateMemberOffset(2, "m"), 0u);
  // A class has no features.
  RegisterSample(1);
  EXPECT_FALSE(TlxHasFeature(TlxGetClassType(1), "A"));
}

TEST_F(TypeRegistryTest, RegisterTemplateTypeCopiesTheCallersArrays) {
  TlxMember members[] = {Member("a", kByte), Member("b", kFloat)};
  uint32_t features[] = {Hash("X"), Hash("Y")};
  TlxRegisterTemplateType("Copied", 3, members, 2, features, 2);
  members[1] = Member("z", kDouble);
  features[0] = Hash("Z");
  EXPECT_EQ(TlxGetTemplateMemberOffset(3, "b"), 1u);
  EXPECT_EQ(TlxGetTemplateSizeByte(3), 5u);
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(3), "X"));
  EXPECT_FALSE(TlxHasFeature(TlxGetTemplateType(3), "Z"));
  EXPECT_EQ(TlxGetTemplateMemberByOffset(3, 1)->nameHash, Hash("b"));
  EXPECT_EQ(TlxGetTemplateMember(3, "a"), TlxGetTemplateMemberByIndex(3, 0));
}

TEST_F(TypeRegistryTest, MissingRecordsOrNamesRegisterNothing) {
  TlxRegisterClassType("NoRecords", 1, nullptr, 3);
  TlxRegisterClassType(nullptr, 2, nullptr, 0);
  TlxRegisterTemplateType("NoFeatures", 3, nullptr, 0, nullptr, 2);
  TlxBeginClassType(0xFFFF);
  TlxAddClassMember(nullptr, kByte, 1);
  TlxEndClassType(nullptr, 4);
  EXPECT_FALSE(TlxIsClassRegistered(1));
  EXPECT_FALSE(TlxIsClassRegistered(2));
  EXPECT_FALSE(TlxIsTemplateRegistered(3));
  EXPECT_FALSE(TlxIsClassRegistered(4));
  TlxEndClassType("Four", 4);  // the null member was not added
  EXPECT_EQ(TlxGetClassType(4)->memberCount, 0u);
  TlxRegisterClassType("Empty", 5, nullptr, 0);  // an empty class is fine
  EXPECT_TRUE(TlxIsClassRegistered(5));
}

TEST_F(TypeRegistryTest, UnusedCodesTakeNoRoom) {
  const TlxMember members[] = {Member("odd", 19, 100), Member("after", kDWord), Member("last", 31, 1)};
  TlxRegisterClassType("Odd", 1, members, 3);
  EXPECT_EQ(TlxGetClassSizeByte(1), 4u);
  EXPECT_EQ(TlxGetClassMemberOffset(1, "after"), 0u);
  EXPECT_EQ(TlxGetClassMemberByOffset(1, 0)->nameHash, Hash("odd"));  // the first to start there
}

TEST_F(TypeRegistryTest, CodesAndCountsThatDoNotFitTheTypeWordAreRefused) {
  const uint32_t maxCount = (1u << 27) - 1;
  struct Case { const char* name; uint32_t code, count; bool added; };
  const Case cases[] = {{"a", 99, 5, false},       {"b", 32, 1, false},       {"c", kByte, 0xFFFFFFFF, false},
                        {"d", kByte, maxCount + 1, false}, {"e", 31, maxCount, true}, {"f", kByte, maxCount, true}};
  for (const bool isTemplate : {false, true}) {
    isTemplate ? TlxBeginTemplateType(0xFFFF) : TlxBeginClassType(0xFFFF);
    for (const Case& c : cases) (isTemplate ? TlxAddTemplateMember : TlxAddClassMember)(c.name, c.code, c.count);
    isTemplate ? TlxEndTemplateType("Checked", 1) : TlxEndClassType("Checked", 1);
    TlxTypeInfo* type = isTemplate ? TlxGetTemplateType(1) : TlxGetClassType(1);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->memberCount, 2u) << isTemplate;
    EXPECT_EQ(type->sizeByte, maxCount) << isTemplate;
    for (const Case& c : cases) {
      const TlxMember* member = isTemplate ? TlxGetTemplateMember(1, c.name) : TlxGetClassMember(1, c.name);
      ASSERT_EQ(member != nullptr, c.added) << c.name;
      EXPECT_TRUE(!c.added || member->typeWord == MakeTypeWord(c.code, c.count)) << c.name;
    }
  }
}

TEST_F(TypeRegistryTest, SizesAreSummedWideAndOversizedTypesAreRefused) {
  // Each member is 8 * (2^27 - 1) bytes, about 2^30: two fit below 2^31, three do not.
  const uint32_t maxCount = (1u << 27) - 1;
  const TlxMember big = TlxMember{Hash("big"), MakeTypeWord(kDouble, maxCount)};
  const TlxMember two[] = {big, big};
  const TlxMember three[] = {big, big, big};
  TlxRegisterClassType("Two", 1, two, 2);
  TlxRegisterClassType("Three", 2, three, 3);
  EXPECT_EQ(TlxGetClassSizeByte(1), 2ull * 8 * maxCount);
  EXPECT_FALSE(TlxIsClassRegistered(2));
  std::vector<TlxMember> many(40, big);  // a 32-bit sum would wrap to a small size
  TlxRegisterClassType("Many", 3, many.data(), 40);
  EXPECT_FALSE(TlxIsClassRegistered(3));
  // Exactly 2^31 - 1 bytes registers.
  const TlxMember exact[] = {big, big, TlxMember{3, MakeTypeWord(kByte, 15)}};  // 2^31 - 16 + 15
  TlxRegisterClassType("Exact", 4, exact, 3);
  EXPECT_EQ(TlxGetClassSizeByte(4), 0x7FFFFFFFu);
}

TEST_F(TypeRegistryTest, MemberPointersStayValidWhileMoreTypesArrive) {
  RegisterSample(1);
  TlxTypeInfo* type = TlxGetClassType(1);
  TlxMember* first = TlxGetClassMemberByIndex(1, 0);
  for (uint16_t id = 100; id < 1100; ++id) RegisterSample(id);
  EXPECT_EQ(TlxGetClassType(1), type);
  EXPECT_EQ(TlxGetClassMemberByIndex(1, 0), first);
  EXPECT_EQ(first->nameHash, Hash("x"));
  EXPECT_EQ(TlxGetClassMemberOffset(1099, "labels"), 13u);
}

TEST_F(TypeRegistryTest, InternalCopiesOfRecordsAndFeatures) {
  RegisterSample(1);
  Quorin::Repository& repository = *Quorin::Repository::Get();
  TlxMember out[8] = {};
  EXPECT_EQ(Quorin::CopyMemberRecords(repository, Quorin::ETypeKind::kClass, 1, out, 2), 4u);
  EXPECT_EQ(out[1].nameHash, Hash("y"));
  EXPECT_EQ(out[2].nameHash, 0u);  // only two were asked for
  EXPECT_EQ(Quorin::CopyMemberRecords(repository, Quorin::ETypeKind::kClass, 1, nullptr, 0), 4u);
  EXPECT_EQ(Quorin::CopyMemberRecords(repository, Quorin::ETypeKind::kClass, 2, out, 8), 0u);
  EXPECT_EQ(Quorin::CopyMemberRecords(repository, Quorin::ETypeKind::kTemplate, 1, out, 8), 0u);
  const uint32_t features[] = {7, 8, 9};
  TlxRegisterTemplateType("F", 1, nullptr, 0, features, 3);
  uint32_t hashes[3] = {};
  EXPECT_EQ(Quorin::CopyFeatureHashes(repository, 1, hashes, 3), 3u);
  EXPECT_EQ(hashes[2], 9u);
  const Quorin::CTypeInfo_Internal* type = Quorin::FindType(repository, Quorin::ETypeKind::kClass, 1);
  EXPECT_EQ(Quorin::FindMemberOffset(*type, Hash("labels")), 13u);
  EXPECT_EQ(Quorin::GetTypeSize(repository, Quorin::ETypeKind::kClass, 1), 25u);
}

TEST_F(TypeRegistryTest, FirstIndicesCountTheRegionsRecords) {
  RegisterSample(1);
  const TlxMember member = Member("m", kByte);
  TlxRegisterClassType("Next", 2, &member, 1);
  EXPECT_EQ(TlxGetClassType(1)->firstMember, 0u);
  EXPECT_EQ(TlxGetClassType(2)->firstMember, 4u);
  TlxBeginRegionWithId(3);
  TlxRegisterClassType("OtherRegion", 3, &member, 1);
  EXPECT_EQ(TlxGetClassType(3)->firstMember, 0u);  // each region numbers its own pool
}

}  // namespace
