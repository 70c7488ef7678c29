// Probe: host functions calling exports while a script runs.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "tests/sprig/ExportTestSupport.h"

namespace {

using SprigTest::Execute;

constexpr uint16_t kPart = 0xFFC0;
void (*g_action)() = nullptr;
void* g_path = nullptr;
void** g_paths = nullptr;
TlxSprigExpression* g_handle = nullptr;
int g_depth = 0;

// Runs the case's export once, then takes what it freed for new variables and a tree of the same
// shape as the running one, so that a script reading freed memory reads 556s.
TlxSprigValue Host(const TlxSprigValue*, uint64_t) {
  if (g_depth++ == 0 && g_action != nullptr) {
    g_action();
    SprigTest::Execute("zz = 556, j:a = 556, j:b = 556, j:c = 556, j:d = \"five hundred and fifty-six\"");
    for (int i = 0; i < 4; ++i) TlxSprigFreeNode(TlxSprigParse("zz + ({Q.q} + j:a)"));
  }
  --g_depth;
  return TlxSprigValue{1, 2, 0, {}};
}
TlxSprigValue Other(const TlxSprigValue*, uint64_t) { return TlxSprigValue{7, 2, 0, {}}; }

struct Case {
  const char* name;
  const char* variable;
  void (*action)();
};

enum class Where { kExecute, kParsed, kCondition, kOutcome };

class Reentrancy : public testing::TestWithParam<std::tuple<Case, Where>> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 0));
    TlxRegisterDefaultClasses();
    TlxSprigBind(&Host, "H.f");
    TlxCreateEmptyInstance(5, 0xFFEE, 0xFFFF, 0xFFFFFFFF);
    TlxBeginRegionWithId(3);
    TlxCreatePrototype(0x30, 0xFFEE, 0xFFFF);
    const std::string script = Script();
    TlxCreateText(1, (script + " == 101").c_str());
    TlxCreateText(2, ("out = " + script).c_str());
    TlxEndRegion();
    Execute((std::string(std::get<0>(GetParam()).variable) + " = 100").c_str());
    std::vector<uint8_t> data(TlxGetClassSizeByte(kPart), 0);
    const TlxScriptReference outcome{2, 1}, condition{1, 1};
    std::memcpy(&data[4], &outcome, 5);
    std::memcpy(&data[9], &condition, 5);
    TlxCreatePrototype(9, kPart, 0xFFFF);
    TlxStorePrototypeClassData(9, data.data(), static_cast<uint32_t>(data.size()));
    const TlxReference part{9, 1};
    TlxCreateListPrototype(20, &part, 1);
    g_paths = TlxResolveConnectionWithIndirections(reinterpret_cast<char*>(TlxGetListPrototype(20)) - sizeof(void*));
    g_path = g_paths[0];
    g_handle = TlxSprigParse(script.c_str());
    g_action = std::get<0>(GetParam()).action;
  }
  // y (0) is read after the call, the case's variable (100) before it.
  static std::string Script() { return std::string("y + ({H.f} + ") + std::get<0>(GetParam()).variable + ")"; }
  void TearDown() override {
    g_action = nullptr;
    TlxSprigFreeNode(g_handle);
    TlxFreeResolvedConnection(g_paths);
    TlxShutdown();
  }
};

TEST_P(Reentrancy, RunningScriptsKeepWhatTheyReach) {
  std::string result;
  switch (std::get<1>(GetParam())) {
    case Where::kExecute: result = Execute(Script().c_str()); break;
    case Where::kParsed: result = SprigTest::Take(TlxSprigExecuteParsed(g_handle)); break;
    case Where::kCondition: result = TlxResolveConnectionConditions(g_path) ? "true" : "false"; break;
    case Where::kOutcome: TlxResolveConnectionOutcomes(g_path); result = Execute("out"); break;
  }
  const Where where = std::get<1>(GetParam());
  EXPECT_EQ(result, where == Where::kCondition ? "true" : "Integer 101");
}

const Case kCases[] = {
    {"Clear", "x", [] { TlxClearRepository(); }},
    {"Shutdown", "x", [] { TlxShutdown(); }},
    {"ReleaseNamespace", "ns:x", [] { TlxSprigReleaseNamespace("ns"); }},
    {"ReleaseInstance", "0x5:x", [] { TlxReleaseInstance(5); }},
    {"DropRegion", "$0x30:x", [] { TlxDropRegionData(3); }},
    {"RecreateText", "ns:x", [] { TlxDropRegionData(3); TlxCreateText(1, "ns:x == 100"); TlxCreateText(2, "ns:y = 1"); TlxResolveConnectionConditions(g_path); TlxResolveConnectionOutcomes(g_path); }},
    {"Rebind", "ns:x", [] { TlxSprigReleaseNamespace("H"); TlxSprigBind(&Other, "H.f"); TlxSprigExecute("{H.f}"); }},
    {"FreeHandle", "ns:x", [] { TlxSprigFreeNode(g_handle); g_handle = nullptr; }},
    {"FreePaths", "ns:x", [] { TlxFreeResolvedConnection(g_paths); g_paths = nullptr; }},
};

std::string CaseName(const testing::TestParamInfo<std::tuple<Case, Where>>& param) {
  const char* places[] = {"Execute", "Parsed", "Condition", "Outcome"};
  return std::string(std::get<0>(param.param).name) + places[static_cast<int>(std::get<1>(param.param))];
}

INSTANTIATE_TEST_SUITE_P(Exports, Reentrancy,
    testing::Combine(testing::ValuesIn(kCases), testing::Values(Where::kExecute, Where::kParsed, Where::kCondition, Where::kOutcome)),
    CaseName);

// A re-made text whose length and CRC match the old one's is parsed anew.
TEST(ForgedText, IsParsedAgain) {
  ASSERT_TRUE(TlxInitialize(17, 0));
  TlxRegisterDefaultClasses();
  TlxBeginRegionWithId(3);
  TlxCreateText(1, "\"aaaaaaaaaaaa\" == \"aaaaaaaaaaaa\"");
  TlxEndRegion();
  ASSERT_EQ(TlxCalculateTextId("\"aaaaaaaaaaaa\" == \"aaaaaaaaaaaa\""), TlxCalculateTextId("\"nigohiejhbbb\" == \"aaaaaaaaaaaa\""));
  std::vector<uint8_t> data(TlxGetClassSizeByte(kPart), 0);
  const TlxScriptReference condition{1, 1};
  std::memcpy(&data[9], &condition, 5);
  TlxCreatePrototype(9, kPart, 0xFFFF);
  TlxStorePrototypeClassData(9, data.data(), static_cast<uint32_t>(data.size()));
  const TlxReference part{9, 1};
  TlxCreateListPrototype(20, &part, 1);
  void* list = reinterpret_cast<char*>(TlxGetListPrototype(20)) - sizeof(void*);
  EXPECT_TRUE(TlxResolveConnectionConditions(list));
  TlxDropRegionData(3);
  TlxCreateText(1, "\"nigohiejhbbb\" == \"aaaaaaaaaaaa\"");
  EXPECT_FALSE(TlxResolveConnectionConditions(list));
  TlxShutdown();
}

TlxSprigValue Nothing(const TlxSprigValue*, uint64_t) { return TlxSprigValue{0, 5, 0, {}}; }

TEST(BindTwice, AllocatesNothing) {
  ASSERT_TRUE(TlxInitialize(17, 0));
  TlxSprigBind(&Nothing, "A.f");
  TlxSprigBind(&Nothing, "g");
  const uint64_t before = Bravik::Memory::GetMemoryStatistics().allocations;
  TlxSprigBind(&Nothing, "A.f");
  TlxSprigBind(&Nothing, "g");
  EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().allocations, before);
  TlxShutdown();
}

}  // namespace
