// Scripts against stored objects: member reads by type, variables bound to prototypes and
// instances and their lifetime with the object and its region, stored References into stores
// that are destroyed, and the walks of variables and stores in ascending id order.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/ScriptBinding.h"
#include "tests/sprig/ExportTestSupport.h"

namespace {

using SprigTest::Describe;
namespace Sprig = Quorin::Sprig;

using SprigTest::Execute;
using SprigTest::GetVar;
using SprigTest::Hash;

// The class every test object uses: one member of each type code, packed in code order.
constexpr uint16_t kClass = 0x10;
constexpr uint16_t kTemplate = 0x20;
const char* const kMemberNames[] = {"B", "UB", "W", "UW", "D", "UD", "Q", "UQ", "F", "Dbl",
                                    "Text", "Blob", "Proto", "Inst", "LProto", "LInst", "Ref",
                                    "LRef", "Script"};
constexpr uint32_t kMemberCount = sizeof(kMemberNames) / sizeof(kMemberNames[0]);
static_assert(kMemberCount == 19);
constexpr uint8_t kSizes[kMemberCount] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 4, 4, 4, 4, 4, 5, 5, 5};

std::vector<uint8_t> ClassData() {
  std::vector<uint8_t> data;
  auto put = [&](const void* bytes, size_t size) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), p, p + size);
  };
  const int8_t b = -5;
  const uint8_t ub = 250;
  const int16_t w = -300;
  const uint16_t uw = 65000;
  const int32_t d = -70000;
  const uint32_t ud = 0xFFFFFFFEu;
  const int64_t q = 0x1'0000'0007LL;
  const uint64_t uq = 0xABCD'0000'0000'0009ull;
  const float f = 1.5f;
  const double dbl = 0.1;
  put(&b, 1); put(&ub, 1); put(&w, 2); put(&uw, 2); put(&d, 4); put(&ud, 4); put(&q, 8);
  put(&uq, 8); put(&f, 4); put(&dbl, 8);
  for (uint32_t id = 100; id < 106; ++id) put(&id, 4);
  data.resize(data.size() + 15, 0);  // the three reference members
  return data;
}

class ScriptBinding : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 1));
    std::vector<TlxMember> members;
    for (uint32_t code = 0; code < kMemberCount; ++code) {
      members.push_back(TlxMember{Hash(kMemberNames[code]), (1u << 5) | code});
    }
    TlxRegisterClassType("Everything", kClass, members.data(), kMemberCount);
    const TlxMember extra{Hash("Extra"), (1u << 5) | 4u};
    TlxRegisterTemplateType("Extras", kTemplate, &extra, 1, nullptr, 0);
    data = ClassData();
    const int32_t extraValue = 123;
    TlxCreatePrototype(7, kClass, kTemplate);
    TlxStorePrototypeClassData(7, data.data(), static_cast<uint32_t>(data.size()));
    TlxStorePrototypeTemplateData(7, &extraValue, sizeof(extraValue));
    TlxCreateInstanceFromPrototype(5, 7);
  }
  void TearDown() override { TlxShutdown(); }

  static Quorin::Repository& Repo() { return *Quorin::Repository::Get(); }
  static Sprig::CScriptState& State() { return Repo().Scripts().State(); }

  // Evaluates strictly against the library's state: errors show as "E<code>@<pos> message".
  static std::string Strict(const char* text) {
    try {
      SprigTest::CTree tree(Sprig::Parse(Bravik::CString(text), false));
      Sprig::CTempValue result;
      Sprig::EvaluateTree(State(), tree.Get(), result.Get());
      return Describe(result.Get());
    } catch (const Quorin::CSprigException& error) {
      return Describe(error);
    }
  }

  std::vector<uint8_t> data;
};

// ---- Member reads ----

struct MemberCase {
  const char* member;
  const char* expected;
};

class MemberTable : public ScriptBinding, public testing::WithParamInterface<MemberCase> {};

TEST_P(MemberTable, ReadsTheFirstItemByType) {
  const std::string name = std::string("0x5:$") + GetParam().member;
  const std::string prototypeName = std::string("$0x7:$") + GetParam().member;
  EXPECT_EQ(GetVar(name.c_str()), GetParam().expected) << name;
  EXPECT_EQ(GetVar(prototypeName.c_str()), GetParam().expected) << prototypeName;
  EXPECT_EQ(Execute(name.c_str()), GetParam().expected) << name;
  EXPECT_TRUE(TlxSprigVarExists(name.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Types, MemberTable,
    testing::Values(MemberCase{"B", "Integer -5"}, MemberCase{"UB", "Integer 250"},
                    MemberCase{"W", "Integer -300"}, MemberCase{"UW", "Integer 65000"},
                    MemberCase{"D", "Integer -70000"}, MemberCase{"UD", "Integer -2"},
                    MemberCase{"Q", "Integer 7"}, MemberCase{"UQ", "Integer 9"},
                    MemberCase{"F", "Float 1.5"}, MemberCase{"Dbl", "Float 0.1"},
                    MemberCase{"Text", "Integer 100"}, MemberCase{"Blob", "Integer 101"},
                    MemberCase{"Proto", "Integer 102"}, MemberCase{"Inst", "Integer 103"},
                    MemberCase{"LProto", "Integer 104"}, MemberCase{"LInst", "Integer 105"},
                    MemberCase{"Extra", "Integer 123"},  // from the template data
                    MemberCase{"Ref", "Invalid"}, MemberCase{"LRef", "Invalid"},
                    MemberCase{"Script", "Invalid"}));

TEST_F(ScriptBinding, DoubleMembersRoundToSinglePrecision) {
  const TlxSprigValue value = TlxSprigGetVar("0x5:$Dbl");
  ASSERT_EQ(value.kind, Sprig::kSprigFloat);
  float stored;
  const uint32_t bits = static_cast<uint32_t>(value.payload);
  std::memcpy(&stored, &bits, sizeof(stored));
  EXPECT_EQ(stored, static_cast<float>(0.1));
}

struct ErrorCase {
  const char* text;
  const char* expected;
};

class LookUpErrorTable : public ScriptBinding, public testing::WithParamInterface<ErrorCase> {};

TEST_P(LookUpErrorTable, RaiseInExpressionsAndGiveInvalidThroughGetVar) {
  EXPECT_EQ(Strict(GetParam().text), GetParam().expected) << GetParam().text;
  const char* name = std::strrchr(GetParam().text, ' ');
  name = name != nullptr ? name + 1 : GetParam().text;
  EXPECT_EQ(GetVar(name), "Invalid") << name;
  EXPECT_EQ(Execute(GetParam().text), "Invalid");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LookUpErrorTable,
    testing::Values(ErrorCase{"0x9:$B", "E7@0 Object 0x9 not found."},
                    ErrorCase{"1 + $0x5:$B", "E7@4 Object $0x5 not found."},
                    ErrorCase{"0x5:$Nope", "E7@0 Member Nope not found."},
                    ErrorCase{"0x5:$Ref", "E12@0 Unknown type for member Ref."},
                    ErrorCase{"2 * 0x99:v", "E10@4 Namespace 0x99 not found."},
                    ErrorCase{"ab:$x", "E7@0 Object ab not found."}));

TEST_F(ScriptBinding, MembersAreReadOnly) {
  EXPECT_EQ(Execute("0x5:$B = 3"), "Integer 3");
  EXPECT_EQ(GetVar("0x5:$B"), "Integer -5");
  EXPECT_EQ(TlxGetInstance(5)->classData != nullptr, true);
  EXPECT_EQ(static_cast<int8_t*>(TlxGetInstance(5)->classData)[0], -5);
}

TEST_F(ScriptBinding, MemberExistenceNeedsObjectAndMember) {
  EXPECT_TRUE(TlxSprigVarExists("$0x7:$Extra"));
  EXPECT_TRUE(TlxSprigVarExists("0x5:$Ref"));  // exists, though scripts cannot read it
  EXPECT_FALSE(TlxSprigVarExists("0x5:$Nope"));
  EXPECT_FALSE(TlxSprigVarExists("0x6:$B"));
  EXPECT_FALSE(TlxSprigVarExists("$0x5:$B"));
}

TEST_F(ScriptBinding, MembersWithoutDataReadAsInvalid) {
  TlxCreateEmptyInstance(9, kClass, 0xFFFF, 0xFFFFFFFF);
  EXPECT_EQ(GetVar("0x9:$B"), "Invalid");
  EXPECT_EQ(Strict("0x9:$B"), "Invalid");
  EXPECT_TRUE(TlxSprigVarExists("0x9:$B"));
}

// ---- Bound variables ----

TEST_F(ScriptBinding, ObjectsHoldTheirOwnVariables) {
  EXPECT_EQ(Execute("$0x7:var = 4, 0x5:var = 6, var = 1"), "Integer 1");
  EXPECT_EQ(Execute("$0x7:var + 0x5:var * 10 + var * 100"), "Integer 164");
  EXPECT_EQ(Describe(TlxSprigGetVar("$0x7:var")), "Integer 4");
  EXPECT_TRUE(TlxSprigVarExists("$0x7:var"));
  EXPECT_FALSE(TlxSprigVarExists("$0x7:other"));
  EXPECT_FALSE(TlxSprigVarExists("0x8:var"));
  EXPECT_EQ(GetVar("0x8:var"), "Invalid");  // no object, no store
  const Quorin::CBoundStore* store = Repo().CurrentRegion().scriptValues->Find(true, 7);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->GetKind(), Bravik::kStoragePrototype);
  EXPECT_EQ(Repo().CurrentRegion().scriptValues->Find(false, 5)->GetKind(), Bravik::kStorageInstance);
}

TEST_F(ScriptBinding, ExistenceTestsCreateNoStore) {
  EXPECT_FALSE(TlxSprigVarExists("0x5:v"));
  EXPECT_EQ(Repo().CurrentRegion().scriptValues, nullptr);
}

TEST_F(ScriptBinding, AReleasedInstanceTakesItsVariables) {
  Execute("0x5:v = \"text\", 0x5:w = 2");
  TlxReleaseInstance(5);
  EXPECT_FALSE(TlxSprigVarExists("0x5:v"));
  TlxCreateInstanceFromPrototype(5, 7);  // the same id again: a fresh store
  EXPECT_EQ(GetVar("0x5:w"), "Integer 0");
}

TEST_F(ScriptBinding, ADroppedRegionTakesTheVariablesOfItsObjects) {
  TlxBeginRegionWithId(3);
  TlxCreatePrototype(0x30, kClass, 0xFFFF);
  TlxEndRegion();
  Execute("$0x30:v = \"in region 3\", $0x7:v = 1");
  ASSERT_NE(Repo().FindRegion(3)->scriptValues, nullptr);
  TlxDropRegionData(3);
  EXPECT_EQ(Repo().FindRegion(3)->scriptValues, nullptr);
  EXPECT_EQ(GetVar("$0x30:v"), "Invalid");
  EXPECT_EQ(GetVar("$0x7:v"), "Integer 1");
}

// ---- Stored References into destroyed stores ----

void StoreReference(const char* from, const char* to) {
  const TlxSprigValue source = TlxSprigGetVar(from);
  const TlxSprigValue target = TlxSprigGetVar(to);
  ASSERT_EQ(source.kind, Sprig::kSprigReference) << from;
  ASSERT_EQ(target.kind, Sprig::kSprigReference) << to;
  auto* entry = reinterpret_cast<TlxSprigValue*>(source.payload);
  entry->kind = Sprig::kSprigReference;
  entry->payload = target.payload;
}

struct DestroyCase {
  const char* name;
  const char* target;  // the variable that the stored References point at
  void (*destroy)();
};

class StoredReferenceTable : public ScriptBinding, public testing::WithParamInterface<DestroyCase> {};

// Every store kind holds a Reference into the target; after the target's store is destroyed,
// each reads as Invalid (under ASan a dangling one would be a use after free).
TEST_P(StoredReferenceTable, BecomeInvalidWhenTheirTargetStoreGoes) {
  TlxBeginRegionWithId(3);
  TlxCreatePrototype(0x30, kClass, 0xFFFF);
  TlxEndRegion();
  Execute(std::string(GetParam().target).append(" = \"target\"").c_str());
  const char* holders[] = {"g", "other:h", "0x5:h", "$0x30:h"};
  for (const char* holder : holders) StoreReference(holder, GetParam().target);
  for (const char* holder : holders) EXPECT_EQ(Execute(holder), "String target") << holder;
  GetParam().destroy();
  for (const char* holder : holders) {
    if (!TlxSprigVarExists(holder)) continue;  // went with the destroyed store
    EXPECT_EQ(Execute(holder), "Invalid") << holder;
    EXPECT_EQ(Execute((std::string(holder) + " = 3").c_str()), "Integer 3");  // usable again
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StoredReferenceTable,
    testing::Values(DestroyCase{"NamespaceReleased", "ns:t", [] { TlxSprigReleaseNamespace("ns"); }},
                    DestroyCase{"InstanceReleased", "0x5:t", [] { TlxReleaseInstance(5); }},
                    DestroyCase{"RegionDropped", "$0x30:t", [] { TlxDropRegionData(3); }}),
    [](const testing::TestParamInfo<DestroyCase>& param) { return std::string(param.param.name); });

TEST_F(ScriptBinding, StoredReferencesGoWithAClearedRepository) {
  TlxBeginRegionWithId(3);
  TlxCreatePrototype(0x30, kClass, 0xFFFF);
  TlxEndRegion();
  // References in every direction, so that teardown order cannot matter.
  StoreReference("$0x30:a", "g");
  StoreReference("ns:b", "$0x30:c");
  StoreReference("0x5:d", "ns:e");
  StoreReference("g2", "0x5:f");
  TlxClearRepository();
  EXPECT_EQ(GetVar("g"), "Integer 0");
  EXPECT_EQ(GetVar("g2"), "Integer 0");
  EXPECT_EQ(GetVar("ns:b"), "Integer 0");
  EXPECT_EQ(GetVar("0x5:d"), "Invalid");  // the instance went too
}

TEST_F(ScriptBinding, ReferencesOutOfADestroyedStoreNeedNoCare) {
  StoreReference("ns:out", "g");
  Execute("g = 8");
  TlxSprigReleaseNamespace("ns");
  EXPECT_EQ(Execute("g"), "Integer 8");
}

// ---- Walks ----

template <typename Walk>
std::vector<uint32_t> Keys(Walk&& walk) {
  std::vector<uint32_t> keys;
  walk([&](uint32_t key, auto&&...) {
    keys.push_back(key);
    return true;
  });
  return keys;
}

std::vector<uint32_t> Sorted(std::vector<uint32_t> keys) {
  std::sort(keys.begin(), keys.end());
  return keys;
}

TEST_F(ScriptBinding, VariablesAndNamespacesWalkInAscendingIdOrder) {
  Execute("zeta = 1, alpha = 2, mid = 3, b:x = 1, a:y = 1, a:z = 2, a:w = 3, c:q = 1");
  const auto globals = Keys([&](auto visit) { Quorin::WalkGlobalVariables(Repo(), visit); });
  EXPECT_EQ(globals, Sorted({Hash("zeta"), Hash("alpha"), Hash("mid")}));
  std::vector<uint32_t> spaces;
  std::vector<uint32_t> inA;
  Quorin::WalkNamespaces(Repo(), [&](uint32_t id, Sprig::CNamespace& space) {
    spaces.push_back(id);
    if (id == Hash("a")) {
      inA = Keys([&](auto visit) { Quorin::WalkStoreVariables(space.variables, visit); });
    }
    return true;
  });
  EXPECT_EQ(spaces, Sorted({Hash("a"), Hash("b"), Hash("c")}));
  EXPECT_EQ(inA, Sorted({Hash("y"), Hash("z"), Hash("w")}));
}

TEST_F(ScriptBinding, BoundStoresWalkPerRegionPrototypesFirstByAscendingId) {
  for (uint32_t id : {0x40u, 0x8u, 0x20u}) TlxCreatePrototype(id, kClass, 0xFFFF);
  for (uint32_t id : {0x90u, 0x11u}) TlxCreateInstanceFromPrototype(id, 7);
  TlxBeginRegionWithId(2);
  TlxCreatePrototype(0x3, kClass, 0xFFFF);
  TlxEndRegion();
  Execute("0x90:a = 1, $0x40:a = 1, 0x11:a = 1, $0x8:a = 1, $0x3:a = 1, $0x20:zz = 1, $0x20:a = 1,"
          " $0x20:m = 1");
  std::vector<std::string> seen;
  std::vector<uint32_t> inStore;
  Quorin::WalkBoundStores(Repo(), 0, [&](Quorin::CBoundStore& store) {
    seen.push_back((store.IsPrototype() ? "$" : "") + std::to_string(store.GetId()));
    if (store.GetId() == 0x20) {
      inStore = Keys([&](auto visit) { Quorin::WalkStoreVariables(store, visit); });
    }
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"$8", "$32", "$64", "17", "144"}));
  EXPECT_EQ(inStore, Sorted({Hash("zz"), Hash("a"), Hash("m")}));
  std::vector<uint32_t> region2;
  Quorin::WalkBoundStores(Repo(), 2, [&](Quorin::CBoundStore& store) {
    region2.push_back(store.GetId());
    return true;
  });
  EXPECT_EQ(region2, std::vector<uint32_t>{3});
}

TEST_F(ScriptBinding, WalksOfAnUnusedStateVisitNothing) {
  int visits = 0;
  Quorin::WalkGlobalVariables(Repo(), [&](uint32_t, TlxSprigValue&) { return ++visits, true; });
  Quorin::WalkNamespaces(Repo(), [&](uint32_t, Sprig::CNamespace&) { return ++visits, true; });
  Quorin::WalkBoundStores(Repo(), Quorin::kAllRegions, [&](Quorin::CBoundStore&) { return ++visits, true; });
  EXPECT_EQ(visits, 0);
}

}  // namespace
