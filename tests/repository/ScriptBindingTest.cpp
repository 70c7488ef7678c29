// The Repository's script binding: member reads by type, variables bound to prototypes and
// instances and their lifetime, stored References into stores that go, the walks of the
// interchange writer, the parsed scripts of stored texts, and host functions that call any
// export while a script runs.
#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/ScriptBinding.h"
#include "tests/sprig/ExportTestSupport.h"

namespace {

using SprigTest::Describe;
using SprigTest::Execute;
using SprigTest::GetVar;
using SprigTest::Hash;
namespace Sprig = Quorin::Sprig;

constexpr uint16_t kClass = 0x10, kTemplate = 0x20, kEntity = 0xFFEE, kPart = 0xFFC0;
const char* const kMemberNames[] = {"B",    "UB",   "W",     "UW",   "D",      "UD",    "Q",
                                    "UQ",   "F",    "Dbl",   "Text", "Blob",   "Proto", "Inst",
                                    "LProto", "LInst", "Ref", "LRef", "Script"};
constexpr uint32_t kMemberCount = 19;

template <typename T>
void Put(std::vector<uint8_t>& data, T value, size_t size = sizeof(T)) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  data.insert(data.end(), bytes, bytes + size);
}

// Prototype 7 (region 0) has one member of each type code and a template member; instance 5
// comes from it; prototype 0x30 lives in region 3.
class ScriptBinding : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 1));
    std::vector<TlxMember> members;
    for (uint32_t code = 0; code < kMemberCount; ++code) members.push_back({Hash(kMemberNames[code]), 32 | code});
    TlxRegisterClassType("Everything", kClass, members.data(), kMemberCount);
    const TlxMember extra{Hash("Extra"), 32 | 4};
    TlxRegisterTemplateType("Extras", kTemplate, &extra, 1, nullptr, 0);
    std::vector<uint8_t> data;
    Put<int8_t>(data, -5), Put<uint8_t>(data, 250), Put<int16_t>(data, -300), Put<uint16_t>(data, 65000);
    Put<int32_t>(data, -70000), Put<uint32_t>(data, 0xFFFFFFFEu), Put<int64_t>(data, 0x1'0000'0007LL);
    Put<uint64_t>(data, 0xABCD'0000'0000'0009ull), Put(data, 1.5f), Put(data, 0.1);
    for (uint32_t id = 100; id < 106; ++id) Put(data, id);
    data.resize(data.size() + 15, 0);  // the three reference members
    const int32_t extraValue = 123;
    TlxCreatePrototype(7, kClass, kTemplate);
    TlxStorePrototypeClassData(7, data.data(), static_cast<uint32_t>(data.size()));
    TlxStorePrototypeTemplateData(7, &extraValue, sizeof(extraValue));
    TlxCreateInstanceFromPrototype(5, 7);
    TlxBeginRegionWithId(3);
    TlxCreatePrototype(0x30, kClass, 0xFFFF);
    TlxEndRegion();
  }
  void TearDown() override { TlxShutdown(); }

  static Quorin::Repository& Repo() { return *Quorin::Repository::Get(); }

  // Evaluates strictly against the library's state: errors show as "E<code>@<pos> message".
  static std::string Strict(const char* text) {
    try {
      const Sprig::CNodeHolder tree = Sprig::Parse(Bravik::CString(text), false);
      Sprig::CTempValue result;
      Sprig::EvaluateTree(Repo().Scripts().State(), tree.Get(), result.Get());
      return Describe(result.Get());
    } catch (const Quorin::CSprigException& error) {
      return Describe(error);
    }
  }
};

// ---- Member reads ----

TEST_F(ScriptBinding, MembersReadTheirFirstItemByType) {
  const std::pair<const char*, const char*> cases[] = {
      {"B", "Integer -5"},        {"UB", "Integer 250"},   {"W", "Integer -300"},  {"UW", "Integer 65000"},
      {"D", "Integer -70000"},    {"UD", "Integer -2"},    {"Q", "Integer 7"},     {"UQ", "Integer 9"},
      {"F", "Float 1.5"},         {"Dbl", "Float 0.1"},    {"Text", "Integer 100"}, {"LInst", "Integer 105"},
      {"Extra", "Integer 123"},  // from the template data
      {"Ref", "Invalid"},         {"Script", "Invalid"}};
  for (const auto& [member, expected] : cases) {
    for (const std::string object : {"0x5:$", "$0x7:$"}) {
      EXPECT_EQ(GetVar((object + member).c_str()), expected) << object << member;
      EXPECT_EQ(Execute((object + member).c_str()), expected) << object << member;
      EXPECT_TRUE(TlxSprigVarExists((object + member).c_str()));
    }
  }
}

// Look-up errors raise in expressions and give Invalid through the exports.
TEST_F(ScriptBinding, LookUpErrorsCarryTheirCodesAndPositions) {
  const std::pair<const char*, const char*> cases[] = {{"0x9:$B", "E7@0 Object 0x9 not found."},
                                                       {"1 + $0x5:$B", "E7@4 Object $0x5 not found."},
                                                       {"0x5:$Nope", "E7@0 Member Nope not found."},
                                                       {"0x5:$Ref", "E12@0 Unknown type for member Ref."},
                                                       {"2 * 0x99:v", "E10@4 Namespace 0x99 not found."},
                                                       {"ab:$x", "E7@0 Object ab not found."}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Strict(text), expected) << text;
    const char* name = std::strrchr(text, ' ');
    EXPECT_EQ(GetVar(name != nullptr ? name + 1 : text), "Invalid") << text;
    EXPECT_EQ(Execute(text), "Invalid") << text;
  }
}

TEST_F(ScriptBinding, MembersAreReadOnlyAndExistWithoutData) {
  EXPECT_EQ(Execute("0x5:$B = 3"), "Integer 3");
  EXPECT_EQ(static_cast<int8_t*>(TlxGetInstance(5)->classData)[0], -5);
  EXPECT_TRUE(TlxSprigVarExists("0x5:$Ref"));  // exists, though scripts cannot read it
  EXPECT_FALSE(TlxSprigVarExists("0x5:$Nope"));
  EXPECT_FALSE(TlxSprigVarExists("$0x5:$B"));
  TlxCreateEmptyInstance(9, kClass, 0xFFFF, 0xFFFFFFFF);
  EXPECT_EQ(Strict("0x9:$B"), "Invalid");
  EXPECT_TRUE(TlxSprigVarExists("0x9:$B"));
}

// ---- Bound variables ----

TEST_F(ScriptBinding, ObjectsHoldTheirOwnVariablesInTheirRegion) {
  EXPECT_FALSE(TlxSprigVarExists("0x5:v"));
  EXPECT_EQ(Repo().CurrentRegion().scriptValues, nullptr);  // existence tests create no store
  EXPECT_EQ(Execute("$0x7:var = 4, 0x5:var = 6, var = 1, $0x30:var = 8"), "Integer 8");
  EXPECT_EQ(Execute("$0x7:var + 0x5:var * 10 + var * 100 + $0x30:var * 1000"), "Integer 8164");
  EXPECT_FALSE(TlxSprigVarExists("$0x7:other"));
  EXPECT_EQ(GetVar("0x8:var"), "Invalid");  // no object, no store
  EXPECT_EQ(Repo().FindRegion(0)->scriptValues->Find(true, 7)->GetKind(), Bravik::kStoragePrototype);
  EXPECT_EQ(Repo().FindRegion(0)->scriptValues->Find(false, 5)->GetKind(), Bravik::kStorageInstance);
  EXPECT_NE(Repo().FindRegion(3)->scriptValues->Find(true, 0x30), nullptr);
}

TEST_F(ScriptBinding, ReleasedInstancesAndDroppedRegionsTakeTheirVariables) {
  Execute("0x5:v = \"text\", 0x5:w = 2, $0x30:v = \"in region 3\", $0x7:v = 1");
  TlxReleaseInstance(5);
  EXPECT_FALSE(TlxSprigVarExists("0x5:v"));
  TlxCreateInstanceFromPrototype(5, 7);  // the same id again: a fresh store
  EXPECT_EQ(GetVar("0x5:w"), "Integer 0");
  TlxDropRegionData(3);
  EXPECT_EQ(Repo().FindRegion(3)->scriptValues, nullptr);
  EXPECT_EQ(GetVar("$0x30:v"), "Invalid");
  EXPECT_EQ(GetVar("$0x7:v"), "Integer 1");
}

// ---- Stored References ----

// Writes a Reference to `to` into the variable `from`, as a host does through the addresses
// TlxSprigGetVar hands out.
void StoreReference(const char* from, const char* to) {
  const TlxSprigValue source = TlxSprigGetVar(from);
  const TlxSprigValue target = TlxSprigGetVar(to);
  ASSERT_EQ(source.kind, Sprig::kSprigReference) << from;
  ASSERT_EQ(target.kind, Sprig::kSprigReference) << to;
  auto* entry = reinterpret_cast<TlxSprigValue*>(source.payload);
  entry->kind = Sprig::kSprigReference;
  entry->payload = target.payload;
}

// New variables take the blocks that freed ones leave: a dangling Reference then reads them.
void Churn() { Execute("c:a = 556, c:b = 556, c:c = 556, c:d = 556, c:e = 556, c:f = 556"); }

struct DestroyCase {
  const char* name;
  const char* target;  // the variable that the stored References point at
  void (*destroy)();
};

class StoredReferenceTable : public ScriptBinding, public testing::WithParamInterface<DestroyCase> {};

// Every store kind holds a Reference into the target; once the target's store is gone, each
// reads as Invalid and takes new values again.
TEST_P(StoredReferenceTable, BecomeInvalidWhenTheirTargetStoreGoes) {
  Execute(std::string(GetParam().target).append(" = \"target\"").c_str());
  const char* holders[] = {"g", "other:h", "0x5:h", "$0x30:h"};
  for (const char* holder : holders) StoreReference(holder, GetParam().target);
  for (const char* holder : holders) EXPECT_EQ(Execute(holder), "String target") << holder;
  GetParam().destroy();
  Churn();
  for (const char* holder : holders) {
    if (!TlxSprigVarExists(holder)) continue;  // went with the destroyed store
    EXPECT_EQ(Execute(holder), "Invalid") << holder;
    EXPECT_EQ(Execute((std::string(holder) + " = 3").c_str()), "Integer 3");
    EXPECT_EQ(Execute(holder), "Integer 3");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StoredReferenceTable,
    testing::Values(DestroyCase{"NamespaceReleased", "ns:t", [] { TlxSprigReleaseNamespace("ns"); }},
                    DestroyCase{"InstanceReleased", "0x5:t", [] { TlxReleaseInstance(5); }},
                    DestroyCase{"RegionDropped", "$0x30:t", [] { TlxDropRegionData(3); }}),
    [](const testing::TestParamInfo<DestroyCase>& param) { return std::string(param.param.name); });

// Enough exposed variables go at once that their entries are collected (freed): the References
// into them are Invalid first.
TEST_F(ScriptBinding, StoredReferencesOutliveTheCollectionOfTheirTargets) {
  for (int i = 0; i < 100; ++i) {
    StoreReference(("g" + std::to_string(i)).c_str(), ("ns:t" + std::to_string(i)).c_str());
  }
  StoreReference("ns:out", "g0");  // a Reference out of the dying store needs no care
  TlxSprigReleaseNamespace("ns");
  EXPECT_EQ(Repo().Scripts().State().References().GetKeptCount(), 0u);
  Churn();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(GetVar(("g" + std::to_string(i)).c_str()), "Invalid") << i;
}

TEST_F(ScriptBinding, StoredReferencesGoWithAClearedRepository) {
  // References in every direction, so that teardown order cannot matter.
  StoreReference("$0x30:a", "g");
  StoreReference("ns:b", "$0x30:c");
  StoreReference("0x5:d", "ns:e");
  StoreReference("g2", "0x5:f");
  TlxClearRepository();
  EXPECT_EQ(GetVar("g"), "Integer 0");
  EXPECT_EQ(GetVar("ns:b"), "Integer 0");
  EXPECT_EQ(GetVar("0x5:d"), "Invalid");  // the instance went too
}

// ---- Walks of the interchange writer ----

template <typename Walk>
std::vector<uint32_t> Keys(Walk&& walk) {
  std::vector<uint32_t> keys;
  walk([&](uint32_t key, auto&&...) { return keys.push_back(key), true; });
  return keys;
}

// Globals, namespaces and every store's variables by ascending id; bound stores per region,
// prototypes first, each by ascending object id.
TEST_F(ScriptBinding, WalksGoInAscendingIdOrder) {
  TlxCreatePrototype(0x8, kClass, 0xFFFF);
  Execute("zeta = 1, alpha = 2, b:x = 1, a:y = 1, a:z = 2, 0x5:a = 1, $0x8:zz = 1, $0x8:a = 1, $0x7:a = 1, $0x30:a = 1");
  EXPECT_EQ(Keys([&](auto visit) { Quorin::WalkGlobalVariables(Repo(), visit); }),
            (std::vector<uint32_t>{std::min(Hash("zeta"), Hash("alpha")), std::max(Hash("zeta"), Hash("alpha"))}));
  std::vector<uint32_t> spaces, inA, in8, stores;
  Quorin::WalkNamespaces(Repo(), [&](uint32_t id, Sprig::CNamespace& space) {
    if (id == Hash("a")) inA = Keys([&](auto visit) { Quorin::WalkStoreVariables(space.variables, visit); });
    return spaces.push_back(id), true;
  });
  Quorin::WalkBoundStores(Repo(), 0, [&](Quorin::CBoundStore& store) {
    if (store.GetId() == 8) in8 = Keys([&](auto visit) { Quorin::WalkStoreVariables(store, visit); });
    return stores.push_back(store.IsPrototype() ? store.GetId() : ~store.GetId()), true;
  });
  for (const auto* keys : {&spaces, &inA, &in8}) EXPECT_TRUE(std::is_sorted(keys->begin(), keys->end()));
  EXPECT_EQ(spaces.size() + inA.size() + in8.size(), 6u);
  EXPECT_EQ(stores, (std::vector<uint32_t>{7, 8, ~5u}));
}

// ---- Scripts of stored texts ----

// A part (prototype 9, region 0) whose condition is text 1 and outcome text 2, as a path.
void* PathOfPart() {
  std::vector<uint8_t> data(TlxGetClassSizeByte(kPart), 0);
  const TlxScriptReference outcome{2, 1}, condition{1, 1};
  std::memcpy(&data[4], &outcome, 5);
  std::memcpy(&data[9], &condition, 5);
  TlxCreatePrototype(9, kPart, 0xFFFF);
  TlxStorePrototypeClassData(9, data.data(), static_cast<uint32_t>(data.size()));
  const TlxReference part{9, 1};
  return reinterpret_cast<char*>(TlxCreateListPrototype(20, &part, 1)) - sizeof(void*);
}

// The parsed tree belongs to the text: a text made anew is parsed anew, even when its length
// and name hash are those of the old one, and the old tree goes with its region.
TEST(TextScripts, AreParsedPerTextAndGoWithTheirRegion) {
  const char* original = "\"aaaaaaaaaaaa\" == \"aaaaaaaaaaaa\"";
  const char* forged = "\"nigohiejhbbb\" == \"aaaaaaaaaaaa\"";
  ASSERT_EQ(std::strlen(original), std::strlen(forged));
  ASSERT_EQ(TlxCalculateTextId(original), TlxCalculateTextId(forged));
  ASSERT_TRUE(TlxInitialize(17, 0));
  TlxRegisterDefaultClasses();
  void* path = PathOfPart();
  TlxBeginRegionWithId(3);
  TlxCreateText(1, original);
  TlxEndRegion();
  EXPECT_TRUE(TlxResolveConnectionConditions(path));
  TlxDropRegionData(3);
  TlxCreateText(1, forged);
  EXPECT_FALSE(TlxResolveConnectionConditions(path));
  TlxShutdown();
}

// ---- Host functions that call exports while a script runs ----

void (*g_action)() = nullptr;
void** g_paths = nullptr;
TlxSprigExpression* g_handle = nullptr;
int g_depth = 0;

// Runs the case's export once, then takes what it freed for new variables and trees of the
// running one's shape, so that a script still reading freed memory reads 556s.
TlxSprigValue Host(const TlxSprigValue*, uint64_t) {
  if (g_depth++ == 0) {
    g_action();
    Execute("zz = 556, j:a = 556, j:b = 556, j:c = 556, j:d = \"five hundred and fifty-six\"");
    for (int i = 0; i < 4; ++i) TlxSprigFreeNode(TlxSprigParse("zz + ({Q.q} + j:a)"));
  }
  --g_depth;
  return TlxSprigValue{1, Sprig::kSprigInteger, 0, {}};
}

TlxSprigValue Seven(const TlxSprigValue*, uint64_t) { return TlxSprigValue{7, Sprig::kSprigInteger, 0, {}}; }

struct ActionCase {
  const char* name;
  const char* variable;  // read before the host function runs
  void (*action)();
};

void RecreateTextAndResolveAgain() {
  TlxDropRegionData(3);
  TlxCreateText(1, "ns:x == 100");
  TlxCreateText(2, "ns:y = 1");
  TlxResolveConnectionConditions(g_paths[0]);
  TlxResolveConnectionOutcomes(g_paths[0]);
}

const ActionCase kActions[] = {
    {"Clear", "x", [] { TlxClearRepository(); }},  // refused
    {"Shutdown", "x", [] { TlxShutdown(); }},      // refused
    {"ReleaseNamespace", "ns:x", [] { TlxSprigReleaseNamespace("ns"); }},
    {"ReleaseInstance", "0x5:x", [] { TlxReleaseInstance(5); }},
    {"DropRegion", "$0x30:x", [] { TlxDropRegionData(3); }},
    {"RecreateText", "ns:x", &RecreateTextAndResolveAgain},
    {"Rebind", "ns:x", [] { TlxSprigReleaseNamespace("H"), TlxSprigBind(&Seven, "H.f"), Execute("{H.f}"); }},
    {"FreeHandle", "ns:x", [] { TlxSprigFreeNode(std::exchange(g_handle, nullptr)); }},
    {"FreePaths", "ns:x", [] { TlxFreeResolvedConnection(std::exchange(g_paths, nullptr)); }},
};

enum class EWhere { kExecute, kParsed, kCondition, kOutcome };
using ReentrantCase = std::tuple<ActionCase, EWhere>;

class Reentrancy : public testing::TestWithParam<ReentrantCase> {
 protected:
  // Reads y (0) after the host function returns and the case's variable (100) before it runs.
  static std::string Script() { return std::string("y + ({H.f} + ") + std::get<0>(GetParam()).variable + ")"; }

  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 0));
    TlxRegisterDefaultClasses();
    TlxSprigBind(&Host, "H.f");
    TlxCreateEmptyInstance(5, kEntity, 0xFFFF, 0xFFFFFFFF);
    TlxBeginRegionWithId(3);
    TlxCreatePrototype(0x30, kEntity, 0xFFFF);
    TlxCreateText(1, (Script() + " == 101").c_str());
    TlxCreateText(2, ("out = " + Script()).c_str());
    TlxEndRegion();
    Execute((std::string(std::get<0>(GetParam()).variable) + " = 100").c_str());
    g_paths = TlxResolveConnectionWithIndirections(PathOfPart());
    g_handle = TlxSprigParse(Script().c_str());
    g_action = std::get<0>(GetParam()).action;
  }
  void TearDown() override {
    TlxSprigFreeNode(g_handle);
    TlxFreeResolvedConnection(g_paths);
    TlxShutdown();
  }
};

TEST_P(Reentrancy, TheRunningScriptKeepsWhatItReaches) {
  switch (std::get<1>(GetParam())) {
    case EWhere::kExecute: EXPECT_EQ(Execute(Script().c_str()), "Integer 101"); break;
    case EWhere::kParsed: EXPECT_EQ(SprigTest::Take(TlxSprigExecuteParsed(g_handle)), "Integer 101"); break;
    case EWhere::kCondition: EXPECT_TRUE(TlxResolveConnectionConditions(g_paths[0])); break;
    case EWhere::kOutcome:
      TlxResolveConnectionOutcomes(g_paths[0]);
      EXPECT_EQ(Execute("out"), "Integer 101");
      break;
  }
  EXPECT_EQ(GetVar("zz"), "Integer 556");  // neither clear nor shutdown happened
}

std::string ReentrantName(const testing::TestParamInfo<ReentrantCase>& param) {
  const char* places[] = {"Execute", "Parsed", "Condition", "Outcome"};
  return std::get<0>(param.param).name + std::string(places[static_cast<int>(std::get<1>(param.param))]);
}

INSTANTIATE_TEST_SUITE_P(Exports, Reentrancy,
                         testing::Combine(testing::ValuesIn(kActions),
                                          testing::Values(EWhere::kExecute, EWhere::kParsed, EWhere::kCondition,
                                                          EWhere::kOutcome)),
                         ReentrantName);

}  // namespace
