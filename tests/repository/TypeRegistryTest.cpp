// Classes and templates: registration, layout, member and feature look-up, the pending lists,
// and the limits of the type word and the type size.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "repository/TypeRegistry.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;
using Quorin::ETypeKind;
using Quorin::MakeTypeWord;

constexpr uint32_t kWord = 2;

uint32_t Hash(const char* name) { return TlxCalculateTextId(name); }

class TypeRegistryTest : public LibraryTest {
 protected:
  // Float, Float, Reference, TextId[3]: offsets 0, 4, 8, 13; size 25.
  static void RegisterSample(uint16_t id = 1) {
    const TlxMember members[] = {Member("x", kFloat), Member("y", kFloat), Member("target", kReference),
                                 Member("labels", kTextId, 3)};
    TlxRegisterClassType("Sample", id, members, 4);
  }
};

TEST(MemberType, ElementSizesAndNamesFollowTheCodes) {
  const char* const names[] = {"Byte", "UnsignedByte", "Word", "UnsignedWord", "DWord", "UnsignedDWord", "QWord",
                               "UnsignedQWord", "Float", "Double", "TextId", "BlobId", "PrototypeId", "InstanceId",
                               "ListPrototypeId", "ListInstanceId", "Reference", "ListReference", "ScriptReference"};
  const uint32_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 4, 4, 4, 4, 4, 5, 5, 5};
  for (uint32_t code = 0; code < 32; ++code) {  // unused codes take no room and write as "Byte"
    EXPECT_EQ(Quorin::MemberSize(TlxMember{0, MakeTypeWord(code, 1000)}), code < 19 ? 1000 * sizes[code] : 0) << code;
    EXPECT_STREQ(Quorin::MemberTypeName(code), code < 19 ? names[code] : "Byte") << code;
  }
}

TEST_F(TypeRegistryTest, MembersArePackedInDeclarationOrderAndFoundByNameIndexOrStart) {
  RegisterSample();
  TlxTypeInfo* type = TlxGetClassType(1);
  ASSERT_NE(type, nullptr);
  EXPECT_TRUE(type->sizeByte == 25 && type->memberCount == 4 && type->nameHash == Hash("Sample"));
  EXPECT_TRUE(type->firstFeature == 0xFFFFFFFF && type->featureCount == 0);
  EXPECT_EQ(TlxGetClassSizeByte(1), 25u);
  const struct { const char* name; uint32_t offset; } members[] = {{"x", 0}, {"y", 4}, {"target", 8}, {"labels", 13}};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(TlxGetClassMemberOffset(1, members[i].name), members[i].offset);
    EXPECT_EQ(TlxGetClassMember(1, members[i].name), TlxGetClassMemberByIndex(1, 0) + i);  // contiguous
    EXPECT_EQ(TlxGetClassMemberByOffset(1, members[i].offset), TlxGetClassMemberByIndex(1, i));
  }
  EXPECT_EQ(TlxGetClassMember(1, "target")->typeWord, MakeTypeWord(kReference, 1));
  for (uint32_t inside : {9u, 14u, 25u, 0xFFFFFFFFu}) EXPECT_EQ(TlxGetClassMemberByOffset(1, inside), nullptr) << inside;
  EXPECT_EQ(TlxGetClassMemberByIndex(1, 4), nullptr);
  for (const char* absent : {"missing", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(TlxGetClassMember(1, absent), nullptr);
    EXPECT_EQ(TlxGetClassMemberOffset(1, absent), 0xFFFFFFFFu);
  }
  const TlxMember duplicates[] = {Member("a", kWord), Member("a", kDWord)};
  TlxRegisterClassType("Dup", 2, duplicates, 2);
  EXPECT_EQ(TlxGetClassMember(2, "a"), TlxGetClassMemberByIndex(2, 0)) << "the first of a name";
}

TEST_F(TypeRegistryTest, ClassesAndTemplatesHaveSeparateIdSpacesAndUnknownIdsGiveAbsentResults) {
  RegisterSample(7);  // class 7 and template 8 must not answer for template 7 or class 8
  const TlxMember member = Member("x", kByte);
  TlxRegisterTemplateType("T", 8, &member, 1, nullptr, 0);
  EXPECT_EQ(TlxGetClassSizeByte(7), 25u);
  EXPECT_EQ(TlxGetTemplateSizeByte(8), 1u);
  EXPECT_FALSE(TlxIsClassRegistered(8) || TlxIsTemplateRegistered(7));
  EXPECT_TRUE(TlxGetClassType(8) == nullptr && TlxGetTemplateType(7) == nullptr);
  EXPECT_EQ(TlxGetClassSizeByte(8) + TlxGetTemplateSizeByte(7), 0u);
  EXPECT_EQ(TlxGetClassMemberOffset(8, "x") & TlxGetTemplateMemberOffset(7, "x"), 0xFFFFFFFFu);
  for (TlxMember* absent : {TlxGetClassMember(8, "x"), TlxGetClassMemberByIndex(8, 0), TlxGetClassMemberByOffset(8, 0),
                            TlxGetTemplateMember(7, "x"), TlxGetTemplateMemberByIndex(7, 0),
                            TlxGetTemplateMemberByOffset(7, 0)}) {
    EXPECT_EQ(absent, nullptr);
  }
}

// A Begin starts from the base's members (an unknown base: from nothing); End leaves the pending
// list for the next End; a class Begin leaves the pending template alone.
TEST_F(TypeRegistryTest, PendingListsStartFromTheBaseAndLastUntilTheNextBegin) {
  RegisterSample(1);
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateMember("m", kWord, 1);
  TlxAddTemplateFeature("F");
  TlxBeginClassType(1);
  TlxAddClassMember("extra", kDouble, 2);
  TlxEndClassType("Derived", 2);
  TlxAddClassMember("more", kByte, 1);
  TlxEndClassType("Derived2", 3);
  TlxEndTemplateType("Kept", 1);
  EXPECT_EQ(TlxGetClassSizeByte(2), 41u);
  EXPECT_EQ(TlxGetClassSizeByte(3), 42u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(TlxGetClassMemberByIndex(2, i)->nameHash, TlxGetClassMemberByIndex(1, i)->nameHash);
  EXPECT_EQ(TlxGetClassMemberOffset(2, "labels"), 13u);
  EXPECT_EQ(TlxGetClassMemberOffset(2, "extra"), 25u);
  EXPECT_EQ(TlxGetTemplateSizeByte(1), 2u);
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(1), "F"));
  TlxBeginClassType(42);  // unknown: the pending members go, nothing is copied
  TlxEndClassType("Empty", 4);
  EXPECT_EQ(TlxGetClassType(4)->memberCount, 0u);
}

TEST_F(TypeRegistryTest, ReservedClassIdsRegisterOnceOthersTwice) {
  const TlxMember first = Member("a", kByte);
  const TlxMember second[] = {Member("b", kQWord), Member("c", kQWord)};
  TlxRegisterClassType("Reserved", 0xFFC0, &first, 1);
  TlxRegisterClassType("Reserved2", 0xFFC0, second, 2);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 1u);
  TlxRegisterClassType("Plain", 5, &first, 1);
  TlxRegisterClassType("Plain2", 5, second, 2);
  const uint32_t size = TlxGetClassSizeByte(5);
  EXPECT_TRUE(size == 1u || size == 16u);
  // 0xFF00 itself is outside the reserved range; templates have none.
  TlxRegisterClassType("Edge", 0xFF00, &first, 1);
  TlxRegisterClassType("Edge2", 0xFF00, &first, 1);
  TlxRegisterTemplateType("T", 0xFFC0, &first, 1, nullptr, 0);
  TlxRegisterTemplateType("T2", 0xFFC0, &first, 1, nullptr, 0);
  EXPECT_EQ(Repo().Index().classes.count, 5u);
  EXPECT_EQ(Repo().Index().templates.count, 2u);
}

TEST_F(TypeRegistryTest, TemplatesCarryCopiesOfTheirFeaturesAndDerivedOnesInheritThem) {
  TlxMember members[] = {Member("a", kByte), Member("b", kFloat)};
  uint32_t features[] = {Hash("A"), Hash("B")};
  TlxRegisterTemplateType("Copied", 1, members, 2, features, 2);
  members[1] = Member("z", kDouble);
  features[0] = Hash("Z");
  TlxTypeInfo* type = TlxGetTemplateType(1);
  EXPECT_TRUE(type->featureCount == 2 && type->firstFeature != 0xFFFFFFFF);
  EXPECT_TRUE(TlxHasFeature(type, "A") && TlxHasFeature(type, "B"));
  EXPECT_FALSE(TlxHasFeature(type, "Z") || TlxHasFeature(type, nullptr));
  EXPECT_EQ(TlxGetTemplateMemberByOffset(1, 1), TlxGetTemplateMember(1, "b"));
  EXPECT_EQ(TlxGetTemplateSizeByte(1), 5u);
  TlxBeginTemplateType(1);
  TlxAddTemplateFeature("C");
  TlxEndTemplateType("Derived", 2);
  EXPECT_TRUE(TlxHasFeature(TlxGetTemplateType(2), "A") && TlxHasFeature(TlxGetTemplateType(2), "C"));
  EXPECT_EQ(TlxGetTemplateMemberOffset(2, "b"), 1u);
  RegisterSample(1);
  EXPECT_FALSE(TlxHasFeature(TlxGetClassType(1), "A")) << "a class has no features";
}

TEST_F(TypeRegistryTest, MissingRecordsOrNamesRegisterNothing) {
  TlxRegisterClassType("NoRecords", 1, nullptr, 3);
  TlxRegisterClassType(nullptr, 2, nullptr, 0);
  TlxRegisterTemplateType("NoFeatures", 3, nullptr, 0, nullptr, 2);
  TlxBeginClassType(0xFFFF);
  TlxAddClassMember(nullptr, kByte, 1);
  TlxEndClassType(nullptr, 4);
  EXPECT_FALSE(TlxIsClassRegistered(1) || TlxIsClassRegistered(2) || TlxIsTemplateRegistered(3) ||
               TlxIsClassRegistered(4));
  TlxEndClassType("Four", 4);  // the null member was not added
  EXPECT_EQ(TlxGetClassType(4)->memberCount, 0u);
}

// A type code above 31 or a count above 2^27 - 1 never spills into the other field: the member is
// refused. Sizes are summed in 64 bits; a type above 2^31 - 1 bytes is not registered.
TEST_F(TypeRegistryTest, TypeWordAndTypeSizeLimits) {
  const uint32_t maxCount = (1u << 27) - 1;
  struct Case { const char* name; uint32_t code, count; bool added; };
  const Case cases[] = {{"a", 99, 5, false}, {"b", 32, 1, false}, {"c", kByte, 0xFFFFFFFF, false},
                        {"d", kByte, maxCount + 1, false}, {"e", 31, maxCount, true}, {"f", kByte, maxCount, true}};
  for (const bool isTemplate : {false, true}) {
    isTemplate ? TlxBeginTemplateType(0xFFFF) : TlxBeginClassType(0xFFFF);
    for (const Case& c : cases) (isTemplate ? TlxAddTemplateMember : TlxAddClassMember)(c.name, c.code, c.count);
    isTemplate ? TlxEndTemplateType("Checked", 1) : TlxEndClassType("Checked", 1);
    TlxTypeInfo* type = isTemplate ? TlxGetTemplateType(1) : TlxGetClassType(1);
    EXPECT_TRUE(type->memberCount == 2 && type->sizeByte == maxCount) << isTemplate;
    for (const Case& c : cases) {
      const TlxMember* member = isTemplate ? TlxGetTemplateMember(1, c.name) : TlxGetClassMember(1, c.name);
      ASSERT_EQ(member != nullptr, c.added) << c.name;
      EXPECT_TRUE(!c.added || member->typeWord == MakeTypeWord(c.code, c.count)) << c.name;
    }
  }
  // 8 * (2^27 - 1) bytes is about 2^30: two fit below 2^31, three do not, forty would wrap 32 bits.
  const TlxMember big = Member("big", kDouble, maxCount);
  const std::vector<TlxMember> many(40, big);
  TlxRegisterClassType("Three", 2, many.data(), 3);
  TlxRegisterClassType("Many", 3, many.data(), 40);
  EXPECT_FALSE(TlxIsClassRegistered(2) || TlxIsClassRegistered(3));
  const TlxMember exact[] = {big, big, Member("rest", kByte, 15)};  // 2^31 - 16 + 15
  TlxRegisterClassType("Exact", 4, exact, 3);
  EXPECT_EQ(TlxGetClassSizeByte(4), 0x7FFFFFFFu);
}

// Internal forms for the interchange writer; each region numbers the records of its own pool.
TEST_F(TypeRegistryTest, RecordCopiesAndFirstIndicesPerRegion) {
  RegisterSample(1);
  TlxMember out[8] = {};
  EXPECT_EQ(Quorin::CopyMemberRecords(Repo(), ETypeKind::kClass, 1, out, 2), 4u);
  EXPECT_TRUE(out[1].nameHash == Hash("y") && out[2].nameHash == 0);  // only two were asked for
  EXPECT_EQ(Quorin::CopyMemberRecords(Repo(), ETypeKind::kClass, 1, nullptr, 0), 4u);
  EXPECT_EQ(Quorin::CopyMemberRecords(Repo(), ETypeKind::kTemplate, 1, out, 8), 0u);
  const uint32_t features[] = {7, 8, 9};
  TlxRegisterTemplateType("F", 1, nullptr, 0, features, 3);
  uint32_t hashes[3] = {};
  EXPECT_EQ(Quorin::CopyFeatureHashes(Repo(), 1, hashes, 3), 3u);
  EXPECT_EQ(hashes[2], 9u);
  EXPECT_EQ(Quorin::CopyFeatureHashes(Repo(), 2, hashes, 3), 0u);
  const TlxMember member = Member("m", kByte);
  TlxRegisterClassType("Next", 2, &member, 1);
  EXPECT_EQ(TlxGetClassType(2)->firstMember, 4u);
  TlxBeginRegionWithId(3);
  TlxRegisterClassType("OtherRegion", 3, &member, 1);
  EXPECT_EQ(TlxGetClassType(3)->firstMember, 0u);
}

}  // namespace
