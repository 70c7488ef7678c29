// The script exports as a host uses them: execution and parsed handles, variables and their
// creation, object-bound variables and member reads, host functions, namespaces, strict
// parsing, stored References into destroyed stores, and every export outside the library's life.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "repository/ScriptBinding.h"
#include "tests/sprig/ExportTestSupport.h"

namespace {

using SprigTest::Describe;
using SprigTest::Execute;
using SprigTest::Hash;
using SprigTest::Take;

constexpr uint8_t kRecordNames = 1;

uint64_t Records() {
  Quorin::Repository* repository = Quorin::Repository::Get();
  return repository != nullptr ? repository->Scripts().CountHostFunctionRecords() : 0;
}

// The variable a Reference from TlxSprigGetVar points at.
TlxSprigValue* Target(const TlxSprigValue& reference) {
  return reinterpret_cast<TlxSprigValue*>(reference.payload);
}

class ScriptExports : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TlxInitialize(17, kRecordNames)); }
  void TearDown() override { TlxShutdown(); }

  static Quorin::Sprig::CScriptState& State() {
    return Quorin::Repository::Get()->Scripts().State();
  }
};

// ---- Execution ----

struct ExecuteCase {
  const char* text;
  const char* expected;
};

class ExecuteTable : public ScriptExports, public testing::WithParamInterface<ExecuteCase> {};

TEST_P(ExecuteTable, GivesAResolvedCopyOrInvalid) {
  EXPECT_EQ(Execute("a = 10, b = 3, c = 2, p = 24, q = 4, r = 2, x = 1, s = \"abc\""), "String abc");
  EXPECT_EQ(Execute(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExecuteTable,
    testing::Values(ExecuteCase{"1 + 2", "Integer 3"}, ExecuteCase{"a - b + c", "Integer 5"},
                    ExecuteCase{"p / q * r", "Integer 3"}, ExecuteCase{"x++ + x", "Integer 3"},
                    ExecuteCase{"\"a\" + \"b\"", "String ab"}, ExecuteCase{"s", "String abc"},
                    ExecuteCase{"a", "Integer 10"}, ExecuteCase{"1 +", "Invalid"},
                    ExecuteCase{"()", "Invalid"}, ExecuteCase{"1 / 0", "Invalid"},
                    ExecuteCase{"0x99:v", "Invalid"}, ExecuteCase{"{Nope.Fn 1}", "Invalid"},
                    ExecuteCase{"-7 % 2", "Integer -1"}, ExecuteCase{"1 << 33", "Integer 2"},
                    ExecuteCase{"0.1 + 0.2 == 0.3", "Boolean true"}));

TEST_F(ScriptExports, ExecuteNeverReturnsAReference) {
  Execute("v = 4");
  const TlxSprigValue value = TlxSprigExecute("v");
  EXPECT_EQ(value.kind, Quorin::Sprig::kSprigInteger);
  EXPECT_EQ(static_cast<int32_t>(value.payload), 4);
}

TEST_F(ScriptExports, StringResultsBelongToTheCallerAndLeaveVariablesIntact) {
  Execute("s = \"kept\"");
  for (const char* text : {"s", "s + \"!\"", "\"a\" + \"b\""}) {
    TlxSprigValue value = TlxSprigExecute(text);
    ASSERT_EQ(value.kind, Quorin::Sprig::kSprigString) << text;
    char* block = reinterpret_cast<char*>(value.payload);
    block[0] = '#';  // the caller's own copy
    BrvFree(block);
  }
  TlxSprigExpression* parsed = TlxSprigParse("s + \"1\"");
  TlxSprigValue value = TlxSprigExecuteParsed(parsed);
  ASSERT_EQ(value.kind, Quorin::Sprig::kSprigString);
  EXPECT_STREQ(reinterpret_cast<const char*>(value.payload), "kept1");
  BrvFree(reinterpret_cast<void*>(value.payload));
  TlxSprigFreeNode(parsed);
  EXPECT_EQ(Execute("s"), "String kept");
}

// ---- Parsed handles ----

TEST_F(ScriptExports, ParsedHandlesEvaluateRepeatedlyAgainstCurrentVariables) {
  TlxSprigExpression* parsed = TlxSprigParse("ns:gold >= 10 && !ns:done");
  ASSERT_NE(parsed, nullptr);
  ASSERT_NE(parsed->refCount, nullptr);
  EXPECT_EQ(*parsed->refCount, 1u);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean false");
  Execute("ns:gold = 12");
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean true");
  Execute("ns:done = true");
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean false");
  TlxSprigFreeNode(parsed);
}

// Conditions over numbers, whether they take the scalar path or the general one (a function
// call), allocate nothing once their variables exist.
TEST_F(ScriptExports, RepeatedEvaluationsAllocateNothing) {
  TlxSprigBindMathFunctions();
  Execute("ns:gold = 12, ns:done = false");
  for (const char* text : {"ns:gold >= 10 && !ns:done", "{Math.Max ns:gold, 3} - 2 > 5 || ns:done"}) {
    TlxSprigExpression* parsed = TlxSprigParse(text);
    EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean true") << text;
    const uint64_t before = Bravik::Memory::GetMemoryStatistics().allocations;
    for (int i = 0; i < 100; ++i) TlxSprigExecuteParsed(parsed);
    EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().allocations, before) << text;
    TlxSprigFreeNode(parsed);
  }
}

TEST_F(ScriptExports, APlainVariableEvaluatesToAReferenceIntoTheLibrary) {
  TlxSprigExpression* parsed = TlxSprigParse("hp");
  const TlxSprigValue value = TlxSprigExecuteParsed(parsed);
  ASSERT_EQ(value.kind, Quorin::Sprig::kSprigReference);
  Target(value)->payload = 77;  // writes the variable itself
  EXPECT_EQ(Execute("hp"), "Integer 77");
  TlxSprigFreeNode(parsed);
}

TEST_F(ScriptExports, EmptyExpressionsGiveAHandleWithoutTree) {
  TlxSprigExpression* parsed = TlxSprigParse("()");
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(parsed->refCount, nullptr);
  EXPECT_EQ(parsed->root, nullptr);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Invalid");
  TlxSprigFreeNode(parsed);  // frees only the handle block
  TlxSprigFreeNode(nullptr);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(nullptr)), "Invalid");
  EXPECT_EQ(TlxSprigParse(nullptr), nullptr);
}

TEST_F(ScriptExports, SharedHandlesKeepTheTreeUntilTheLastRelease) {
  TlxSprigExpression* first = TlxSprigParse("1 + 2");
  TlxSprigExpression* second = Quorin::ShareExpression(first);
  EXPECT_EQ(*first->refCount, 2u);
  EXPECT_EQ(first->root, second->root);
  TlxSprigFreeNode(first);
  EXPECT_EQ(*second->refCount, 1u);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(second)), "Integer 3");
  TlxSprigFreeNode(second);  // the leak check sees the tree and the count go here
}

TEST_F(ScriptExports, ParsedHandlesSurviveAClearedRepository) {
  TlxSprigExpression* parsed = TlxSprigParse("ns:n + 1");
  Execute("ns:n = 4");
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Integer 5");
  TlxClearRepository();
  EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Integer 1");
  TlxSprigFreeNode(parsed);
}

// ---- Strict parsing ----

struct TryParseCase {
  const char* text;
  bool ok;
  uint32_t position;
  const char* message;
};

class TryParseTable : public ScriptExports, public testing::WithParamInterface<TryParseCase> {};

TEST_P(TryParseTable, ReportsTheFirstSyntaxError) {
  const TryParseCase& c = GetParam();
  char buffer[128];
  std::memset(buffer, 'z', sizeof(buffer));
  uint32_t position = 0xDEAD;
  EXPECT_EQ(TlxSprigTryParse(c.text, buffer, sizeof(buffer), &position), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(position, 0xDEADu);
    EXPECT_EQ(buffer[0], 'z');
  } else {
    EXPECT_EQ(position, c.position) << c.text;
    EXPECT_STREQ(buffer, c.message) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TryParseTable,
    testing::Values(TryParseCase{"a + 1", true, 0, ""}, TryParseCase{"(a + 1", true, 0, ""},
                    TryParseCase{"", true, 0, ""}, TryParseCase{"1 +", true, 0, ""},
                    TryParseCase{")a", false, 0, "Closing bracket without opening bracket."},
                    TryParseCase{"a + 1)", false, 5, "Closing bracket without opening bracket."},
                    TryParseCase{"}", false, 0, "Function block to close does not exist."},
                    TryParseCase{"{ 5 }", false, 2, "Variable used in unnamed function block."},
                    TryParseCase{"a,,b", true, 0, ""},  // an evaluation error, not a syntax one
                    TryParseCase{"{ (", false, 2, "Opening bracket in unnamed function block."},
                    TryParseCase{"{}", false, 0, "Passed node is a nullptr."}));

TEST_F(ScriptExports, TryParseWritesOnlyWhatItIsGiven) {
  const char* text = "a + 1)";
  char buffer[8];
  std::memset(buffer, 'z', sizeof(buffer));
  uint32_t position = 0;
  EXPECT_FALSE(TlxSprigTryParse(text, nullptr, 64, &position));  // null buffer: position only
  EXPECT_EQ(position, 5u);
  EXPECT_FALSE(TlxSprigTryParse(text, buffer, 0, nullptr));  // size 0: nothing written
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_FALSE(TlxSprigTryParse(text, buffer, 4, nullptr));  // cut, terminated in the last byte
  EXPECT_STREQ(buffer, "Clo");
  EXPECT_EQ(buffer[4], 'z');
  EXPECT_FALSE(TlxSprigTryParse(text, buffer, 1, nullptr));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(TlxSprigTryParse(nullptr, buffer, sizeof(buffer), &position));
}

// ---- Variables ----

TEST_F(ScriptExports, GetVarCreatesTheVariableAsIntegerZero) {
  EXPECT_FALSE(TlxSprigVarExists("x"));
  const TlxSprigValue x = TlxSprigGetVar("x");
  ASSERT_EQ(x.kind, Quorin::Sprig::kSprigReference);
  EXPECT_EQ(Target(x)->kind, Quorin::Sprig::kSprigInteger);
  EXPECT_EQ(Target(x)->payload, 0u);
  EXPECT_TRUE(TlxSprigVarExists("x"));
  Target(x)->payload = 41;
  EXPECT_EQ(Execute("x + 1"), "Integer 42");
}

TEST_F(ScriptExports, GetVarCreatesNamespacesButExistenceTestsDoNot) {
  EXPECT_FALSE(TlxSprigVarExists("nosuch:x"));
  EXPECT_EQ(State().GetNamespaceCount(), 0u);
  EXPECT_EQ(Describe(TlxSprigGetVar("nosuch:x")), "Integer 0");
  EXPECT_EQ(State().GetNamespaceCount(), 1u);
  EXPECT_TRUE(TlxSprigVarExists("nosuch:x"));
  EXPECT_FALSE(TlxSprigVarExists("nosuch:y"));
  EXPECT_FALSE(TlxSprigVarExists("x"));
  EXPECT_EQ(Describe(TlxSprigGetVar(nullptr)), "Invalid");
  EXPECT_FALSE(TlxSprigVarExists(nullptr));
}

TEST_F(ScriptExports, NamesUsedByScriptsAreRecorded) {
  TlxSprigGetVar("quest:stage");
  Execute("gold = 1");
  TlxSprigCreateNamespace("World");
  for (const char* name : {"quest", "stage", "gold", "World"}) {
    const char* recorded = TlxDebug_TryGetString(Hash(name));
    ASSERT_NE(recorded, nullptr) << name;
    EXPECT_STREQ(recorded, name);
  }
}

TEST(ScriptExportsWithoutNames, NothingIsRecorded) {
  ASSERT_TRUE(TlxInitialize(17, 0));
  TlxSprigGetVar("quest:stage");
  EXPECT_EQ(TlxDebug_TryGetString(Hash("quest")), nullptr);
  EXPECT_EQ(TlxDebug_TryGetString(Hash("stage")), nullptr);
  TlxShutdown();
}

// ---- Namespaces ----

TEST_F(ScriptExports, NamespacesAreCreatedOnceAndReleasedWithEverythingInThem) {
  void* space = TlxSprigCreateNamespace("ns");
  ASSERT_NE(space, nullptr);
  EXPECT_EQ(TlxSprigCreateNamespace("ns"), space);
  EXPECT_EQ(TlxSprigCreateNamespace(nullptr), nullptr);
  Execute("ns:text = \"long enough to own a block\", ns:n = 3");
  TlxSprigBindMathFunctions();
  TlxSprigBind([](const TlxSprigValue*, uint64_t) { return TlxSprigValue{9, 2, 0, {}}; }, "ns.Nine");
  EXPECT_EQ(Execute("{ns.Nine} + ns:n"), "Integer 12");
  TlxSprigReleaseNamespace("ns");
  TlxSprigReleaseNamespace("ns");
  TlxSprigReleaseNamespace(nullptr);
  EXPECT_FALSE(TlxSprigVarExists("ns:n"));
  EXPECT_EQ(Execute("{ns.Nine}"), "Invalid");
  EXPECT_EQ(Execute("{Math.Max 1, 2}"), "Integer 2");  // other namespaces stay
}

// ---- Standard and host functions ----

TEST_F(ScriptExports, StandardFunctionsAnswerOnlyOnceBound) {
  EXPECT_EQ(Execute("{String.Distance \"kitten\", \"sitting\"}"), "Invalid");
  TlxSprigBindStringFunctions();
  EXPECT_EQ(Execute("{String.Distance \"kitten\", \"sitting\"}"), "Integer 3");
  EXPECT_EQ(Execute("{Math.Max 1, 2}"), "Invalid");
  TlxSprigBindStandardFunctions();
  EXPECT_EQ(Execute("{Math.Max 1, 2}"), "Integer 2");
  EXPECT_EQ(Execute("{Math.Clamp \"5\", 0, 10}"), "Invalid");  // code 14 stays inside
  EXPECT_EQ(Execute("{String.Length \"abc\"} + {Math.Clamp 15, 0, 10}"), "Integer 13");
}

std::vector<std::string> g_seen;
char* g_hostBlock = nullptr;

TlxSprigValue Echo(const TlxSprigValue* args, uint64_t count) {
  g_seen.clear();
  for (uint64_t i = 0; i < count; ++i) g_seen.push_back(Describe(args[i]));
  if (count == 0 && args != nullptr) g_seen.push_back("args not null");
  TlxSprigValue result{};
  result.kind = Quorin::Sprig::kSprigString;
  result.payload = reinterpret_cast<uintptr_t>(g_hostBlock);
  return result;
}

TEST_F(ScriptExports, HostFunctionsReturningABrvMallocStringAreCopied) {
  g_hostBlock = static_cast<char*>(BrvMalloc(16, 1));
  std::strcpy(g_hostBlock, "from host");
  TlxSprigBind(&Echo, "Host.Echo");
  Execute("v = 5");
  EXPECT_EQ(Execute("{Host.Echo v, \"s\", 1.5, true}"), "String from host");
  EXPECT_EQ(g_seen, (std::vector<std::string>{"Integer 5", "String s", "Float 1.5", "Boolean true"}));
  EXPECT_EQ(Execute("{Host.Echo}"), "String from host");
  EXPECT_TRUE(g_seen.empty());
  Execute("stored = {Host.Echo}");
  EXPECT_STREQ(g_hostBlock, "from host");  // the host's block stays the host's
  BrvFree(g_hostBlock);
  EXPECT_EQ(Execute("stored"), "String from host");
  g_hostBlock = nullptr;
}

TlxSprigValue ReturnVariable(const TlxSprigValue*, uint64_t) { return TlxSprigGetVar("target"); }
TlxSprigValue ReturnLiteral(const TlxSprigValue*, uint64_t) {
  TlxSprigValue result{};
  result.kind = Quorin::Sprig::kSprigString;
  result.payload = reinterpret_cast<uintptr_t>("not from BrvMalloc");
  return result;
}
TlxSprigValue ReturnNullString(const TlxSprigValue*, uint64_t) {
  TlxSprigValue result{};
  result.kind = Quorin::Sprig::kSprigString;
  return result;
}

struct HostCase {
  TlxSprigFunction function;
  const char* expected;
};

class HostResultTable : public ScriptExports, public testing::WithParamInterface<HostCase> {};

TEST_P(HostResultTable, IsCopiedIntoTheLibrary) {
  Execute("target = 31");
  TlxSprigBind(GetParam().function, "F");
  EXPECT_EQ(Execute("{F}"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Results, HostResultTable,
                         testing::Values(HostCase{&ReturnVariable, "Integer 31"},  // followed
                                         HostCase{&ReturnLiteral, "String not from BrvMalloc"},
                                         HostCase{&ReturnNullString, "String "}));

TEST_F(ScriptExports, HostBindingKeepsTheFirstFunctionAndIgnoresNull) {
  TlxSprigBind(nullptr, "F");
  EXPECT_EQ(Records(), 0u);
  EXPECT_EQ(Execute("{F}"), "Invalid");
  TlxSprigBind(&ReturnLiteral, "F");
  TlxSprigBind(&ReturnNullString, "F");
  TlxSprigBind(&ReturnLiteral, nullptr);
  EXPECT_EQ(Execute("{F}"), "String not from BrvMalloc");
}

TEST_F(ScriptExports, HostFunctionRecordsGoWithClearAndShutdown) {
  TlxSprigBind(&ReturnLiteral, "F");
  TlxSprigBind(&ReturnLiteral, "A.G");
  EXPECT_EQ(Records(), 2u);
  TlxClearRepository();
  EXPECT_EQ(Records(), 0u);
  EXPECT_EQ(Execute("{F}"), "Invalid");  // the tables went with the script state
  TlxSprigBind(&ReturnLiteral, "F");
  EXPECT_EQ(Execute("{F}"), "String not from BrvMalloc");
  // TearDown's shutdown frees this one; the leak check would see it otherwise.
}

// ---- Outside the library's life ----

TEST(ScriptExportsOutsideLife, GiveTheirAbsentResults) {
  for (int phase = 0; phase < 2; ++phase) {
    if (phase == 1) {
      ASSERT_TRUE(TlxInitialize(17, 0));
      TlxShutdown();
    }
    TlxSprigExpression handle{};
    char buffer[8] = "zzzzzzz";
    uint32_t position = 7;
    EXPECT_EQ(TlxSprigParse("1"), nullptr);
    EXPECT_FALSE(TlxSprigTryParse(")", buffer, sizeof(buffer), &position));
    EXPECT_EQ(position, 7u);
    EXPECT_EQ(buffer[0], 'z');
    TlxSprigFreeNode(&handle);  // touches nothing
    EXPECT_EQ(Describe(TlxSprigExecute("1")), "Invalid");
    EXPECT_EQ(Describe(TlxSprigExecuteParsed(&handle)), "Invalid");
    EXPECT_EQ(Describe(TlxSprigGetVar("x")), "Invalid");
    EXPECT_FALSE(TlxSprigVarExists("x"));
    TlxSprigBind(&ReturnLiteral, "F");
    TlxSprigBindMathFunctions();
    TlxSprigBindStringFunctions();
    TlxSprigBindStandardFunctions();
    EXPECT_EQ(TlxSprigCreateNamespace("ns"), nullptr);
    TlxSprigReleaseNamespace("ns");
    EXPECT_EQ(Records(), 0u);
  }
}

}  // namespace
