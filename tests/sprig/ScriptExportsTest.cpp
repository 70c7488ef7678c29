// The script exports as a host uses them: execution and parsed handles, strict parsing, the
// check before a script runs and the last script error, variables and namespaces, standard and
// host functions, and every export outside the library's life.
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "repository/ScriptBinding.h"
#include "tests/sprig/ExportTestSupport.h"
#include "tests/support/CountingAllocator.h"

namespace {

using SprigTest::Describe;
using SprigTest::Execute;
using SprigTest::GetVar;
using SprigTest::Hash;
using SprigTest::Take;
namespace Sprig = Quorin::Sprig;

uint64_t Allocations() { return Bravik::Memory::GetMemoryStatistics().allocations; }

uint64_t Records() {
  Quorin::Repository* repository = Quorin::Repository::Get();
  return repository != nullptr ? repository->Scripts().CountHostFunctionRecords() : 0;
}

// The variable a Reference from the exports points at.
TlxSprigValue* Target(const TlxSprigValue& reference) { return reinterpret_cast<TlxSprigValue*>(reference.payload); }

class ScriptExports : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TlxInitialize(17, 1)); }
  void TearDown() override { TlxShutdown(); }
};

// ---- Execution ----

// Results are the caller's copies: never a Reference; a String block is the caller's to change
// and free; script errors give Invalid.
TEST_F(ScriptExports, ExecuteGivesResolvedCopiesOrInvalid) {
  Execute("v = 4, s = \"kept\"");
  const std::pair<const char*, const char*> cases[] = {
      {"v", "Integer 4"}, {"s + \"!\"", "String kept!"}, {"1 +", "Invalid"},        {"()", "Invalid"},
      {"1 / 0", "Invalid"}, {"0x99:v", "Invalid"},         {"{Nope.Fn 1}", "Invalid"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(Execute(text), expected) << text;
  EXPECT_EQ(TlxSprigExecute("v").kind, Sprig::kSprigInteger);
  TlxSprigExpression* parsed = TlxSprigParse("s + \"1\"");
  for (const TlxSprigValue value : {TlxSprigExecute("s"), TlxSprigExecuteParsed(parsed)}) {
    ASSERT_EQ(value.kind, Sprig::kSprigString);
    reinterpret_cast<char*>(value.payload)[0] = '#';
    BrvFree(reinterpret_cast<void*>(value.payload));
  }
  TlxSprigFreeNode(parsed);
  EXPECT_EQ(Execute("s"), "String kept");
}

// ---- Parsed handles ----

// Conditions over numbers, whether they take the scalar path or the general one (a function
// call), follow the variables and allocate nothing once those exist.
TEST_F(ScriptExports, ParsedHandlesEvaluateAgainstCurrentVariablesWithoutAllocating) {
  TlxSprigBindMathFunctions();
  for (const char* text : {"ns:gold >= 10 && !ns:done", "{Math.Max ns:gold, 3} - 2 > 5 && !ns:done"}) {
    Execute("ns:gold = 12, ns:done = false");
    TlxSprigExpression* parsed = TlxSprigParse(text);
    EXPECT_EQ(*parsed->refCount, 1u);
    EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean true") << text;
    const uint64_t before = Allocations();
    for (int i = 0; i < 100; ++i) TlxSprigExecuteParsed(parsed);
    EXPECT_EQ(Allocations(), before) << text;
    Execute("ns:done = true");
    EXPECT_EQ(Take(TlxSprigExecuteParsed(parsed)), "Boolean false") << text;
    TlxSprigFreeNode(parsed);
  }
}

TEST_F(ScriptExports, HandlesShareTheirTreeAndMayHaveNone) {
  TlxSprigExpression* variable = TlxSprigParse("hp");
  const TlxSprigValue value = TlxSprigExecuteParsed(variable);
  ASSERT_EQ(value.kind, Sprig::kSprigReference);  // a plain variable: the host may write it
  Target(value)->payload = 77;
  EXPECT_EQ(Execute("hp"), "Integer 77");
  TlxSprigFreeNode(variable);
  TlxSprigExpression* empty = TlxSprigParse("()");
  EXPECT_EQ(empty->refCount, nullptr);
  EXPECT_EQ(empty->root, nullptr);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(empty)), "Invalid");
  TlxSprigFreeNode(empty);
  TlxSprigFreeNode(nullptr);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(nullptr)), "Invalid");
  EXPECT_EQ(TlxSprigParse(nullptr), nullptr);
  TlxSprigExpression* first = TlxSprigParse("1 + 2");
  TlxSprigExpression* second = Quorin::ShareExpression(first);
  EXPECT_EQ(*first->refCount, 2u);
  TlxSprigFreeNode(first);
  EXPECT_EQ(Take(TlxSprigExecuteParsed(second)), "Integer 3");
  TlxSprigFreeNode(second);  // the leak check sees the tree and the count go here
}

// A handle remembers where its variables live; whatever frees them in between makes it look
// them up again (a freed one would read the Churn values).
TEST_F(ScriptExports, HandlesLookUpVariablesAgainAfterTheirStoreWent) {
  struct Case {
    const char* script;
    void (*free)();
  };
  const Case cases[] = {
      {"ns:x += 1", [] { TlxSprigReleaseNamespace("ns"); }},
      {"0x7:x += 1", [] { TlxReleaseInstance(7), TlxCreateEmptyInstance(7, 1, 0xFFFF, 0xFFFFFFFF); }},
      {"x += 1", [] { TlxClearRepository(), TlxCreateEmptyInstance(7, 1, 0xFFFF, 0xFFFFFFFF); }},
      {"a:x = a:x + b:y", [] { TlxSprigReleaseNamespace("b"); }},
  };
  for (const Case& c : cases) {
    TlxCreateEmptyInstance(7, 1, 0xFFFF, 0xFFFFFFFF);
    Execute("b:y = 1");
    TlxSprigExpression* expression = TlxSprigParse(c.script);
    EXPECT_EQ(Take(TlxSprigExecuteParsed(expression)), "Integer 1") << c.script;
    EXPECT_EQ(Take(TlxSprigExecuteParsed(expression)), "Integer 2") << c.script;
    c.free();
    Execute("c:a = 556, c:b = 556, c:c = 556");
    EXPECT_EQ(Take(TlxSprigExecuteParsed(expression)), c.script[0] == 'a' ? "Integer 2" : "Integer 1") << c.script;
    TlxSprigFreeNode(expression);
    TlxClearRepository();
  }
}

// ---- Strict parsing ----

// Strict: true for what only evaluation rejects, else the first syntax error.
TEST_F(ScriptExports, TryParseReportsTheFirstSyntaxError) {
  const struct {
    const char* text;
    uint32_t position;  // 0xDEAD: no error
    const char* message;
  } cases[] = {{"(a + 1", 0xDEAD, "untouched"},
               {"a,,b", 0xDEAD, "untouched"},
               {"a + 1)", 5, "Closing bracket without opening bracket."},
               {"{ 5 }", 2, "Variable used in unnamed function block."}};
  for (const auto& c : cases) {
    char buffer[128] = "untouched";
    uint32_t position = 0xDEAD;
    EXPECT_EQ(TlxSprigTryParse(c.text, buffer, sizeof(buffer), &position), c.position == 0xDEAD) << c.text;
    EXPECT_EQ(position, c.position) << c.text;
    EXPECT_STREQ(buffer, c.message) << c.text;
  }
}

TEST_F(ScriptExports, TryParseWritesOnlyWhatItIsGiven) {
  char buffer[8] = "zzzzzzz";
  uint32_t position = 0;
  EXPECT_FALSE(TlxSprigTryParse("a + 1)", nullptr, 64, &position));  // null buffer: position only
  EXPECT_EQ(position, 5u);
  EXPECT_FALSE(TlxSprigTryParse("a + 1)", buffer, 0, nullptr));  // size 0: nothing written
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_FALSE(TlxSprigTryParse("a + 1)", buffer, 4, nullptr));  // cut, terminated in the last byte
  EXPECT_STREQ(buffer, "Clo");
  EXPECT_EQ(buffer[4], 'z');
  EXPECT_FALSE(TlxSprigTryParse(nullptr, buffer, sizeof(buffer), &position));
}

// ---- Checking scripts and their last error ----

struct SReport {
  bool operator==(const SReport&) const = default;
  uint32_t position;
  std::string message;
};

std::ostream& operator<<(std::ostream& out, const SReport& report) {
  return out << report.position << ": " << report.message;
}

// What TlxSprigCheck says of a text; {0xDEAD, "ok"} when it finds nothing.
SReport Check(const std::string& text) {
  char message[128] = "untouched";
  uint32_t position = 0xDEAD;
  if (TlxSprigCheck(text.c_str(), message, sizeof message, &position)) return {position, "ok"};
  return {position, message};
}

// The calling thread's last script error; {0xDEAD, "none"} when there is none (code 0).
SReport LastError(uint32_t* code = nullptr) {
  char message[128] = "untouched";
  uint32_t position = 0xDEAD;
  const uint32_t found = TlxSprigGetLastError(message, sizeof message, &position);
  if (code != nullptr) *code = found;
  if (found == 0) return {position == 0 ? 0xDEAD : position, std::string("none:") + message};
  return {position, message};
}

uint32_t g_hostCalls = 0;
TlxSprigValue CountCall(const TlxSprigValue*, uint64_t) {
  ++g_hostCalls;
  return TlxSprigValue{1, Sprig::kSprigInteger, 0, {}};
}

// Every fault of a tree's shape, with the position running the text reports for it, and texts
// whose faults only evaluation can know (they check clean).
TEST_F(ScriptExports, CheckFindsWhatRunningWouldRaiseFromTheShapeAlone) {
  TlxSprigBindStandardFunctions();
  TlxSprigBind(&CountCall, "Host.Count");
  std::string deep = "1";
  for (int i = 0; i < 1000; ++i) deep += "+1";
  const struct {
    std::string text;
    SReport check;
    uint32_t code;  // what running it raises; 0: nothing
  } cases[] = {
      {"1 +", {2, "Missing right hand side of \"a + b\"."}, 8},
      {"*", {0, "Missing left hand side of \"a * b\"."}, 2},
      {"!", {0, "Missing operant of \"!a\"."}, 8},
      {"a ! b", {2, "operator \"!\" is unary."}, 9},
      {"x = 1, 5 = 3", {7, "Trying to assign to a const value."}, 1},
      {"(a + b) += 3", {3, "Trying to assign to a const value."}, 1},
      {"a,,b", {1, "Missing right hand side of \"a , b\"."}, 8},
      {"1 + {Nope.Fn 2}", {14, "Function Nope.Fn is not bound."}, 0},
      {deep, {2, "Expression is nested too deeply."}, 6},
      {")a", {0, "Closing bracket without opening bracket."}, 0},  // strict parse
      {"-a + b, x++, --y, {Host.Count}, {Math.Max(1, 2)} - 1", {0xDEAD, "ok"}, 0},
      {"1 / 0, nowhere:x, 0x99:$member", {0xDEAD, "ok"}, 7},  // only evaluation knows
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(c.text), c.check) << c.text;
    Take(TlxSprigExecute(c.text.c_str()));
    uint32_t code = 0;
    const SReport last = LastError(&code);
    EXPECT_EQ(code, c.code) << c.text;
    if (c.code != 0 && c.check.message != "ok") {
      EXPECT_EQ(last, c.check) << c.text;
    }
  }
}

TEST_F(ScriptExports, CheckRunsNothingAndCreatesNoVariable) {
  TlxSprigBind(&CountCall, "Host.Count");
  g_hostCalls = 0;
  EXPECT_EQ(Check("fresh = {Host.Count}, ns:v += 1, 0x5:w"), (SReport{0xDEAD, "ok"}));
  EXPECT_EQ(g_hostCalls, 0u);
  for (const char* name : {"fresh", "ns:v"}) EXPECT_FALSE(TlxSprigVarExists(name)) << name;
  EXPECT_EQ(TlxSprigCreateNamespace("ns"), TlxSprigCreateNamespace("ns"));  // made here, not before
  EXPECT_FALSE(TlxSprigCheck(nullptr, nullptr, 0, nullptr));
  char cut[5] = "zzzz";
  EXPECT_FALSE(TlxSprigCheck("1 +", cut, 4, nullptr));  // cut and terminated, as TryParse does
  EXPECT_STREQ(cut, "Mis");
}

// Each call that runs a script replaces the record: an error, or code 0 for none; the message
// is cut on a character boundary and terminated; nothing is written where nothing is given.
TEST_F(ScriptExports, LastErrorDescribesTheLastScriptCallOfTheThread) {
  Take(TlxSprigExecute("\"\u00e9\u00e9\" + 1 +"));
  uint32_t code = 0;
  EXPECT_EQ(LastError(&code), (SReport{9, "Missing right hand side of \"a + b\"."}));
  EXPECT_EQ(code, 8u);
  char cut[9] = "zzzzzzzz";
  EXPECT_EQ(TlxSprigGetLastError(cut, 5, nullptr), 8u);
  EXPECT_STREQ(cut, "Miss");
  EXPECT_EQ(TlxSprigGetLastError(nullptr, 64, nullptr), 8u);
  EXPECT_EQ(TlxSprigGetLastError(cut, 0, nullptr), 8u);
  EXPECT_STREQ(cut, "Miss");
  TlxSprigExpression* parsed = TlxSprigParse("v");
  const std::pair<std::function<void()>, SReport> calls[] = {
      {[&] { Take(TlxSprigExecuteParsed(parsed)); }, {0xDEAD, "none:"}},
      {[] { Take(TlxSprigExecute("0x21:$m")); }, {0, "Object 0x21 not found."}},
      {[] { Take(TlxSprigGetVar("x")); }, {0xDEAD, "none:"}},
      {[] { Take(TlxSprigExecute("a = 1 +")); }, {6, "Missing right hand side of \"a + b\"."}},
      {[] { TlxSprigVarExists("a"); }, {6, "Missing right hand side of \"a + b\"."}},  // runs nothing
      {[] { Take(TlxSprigExecute("")); }, {0xDEAD, "none:"}},
  };
  for (const auto& [call, expected] : calls) {
    call();
    EXPECT_EQ(LastError(), expected) << expected;
  }
  TlxSprigFreeNode(parsed);
  // A UTF-8 character is never split: the cut falls before it.
  TlxCreatePrototype(0x21, 5, 0xFFFF);
  TlxCreateEmptyInstance(0x21, 5, 0xFFFF, 0x21);
  Take(TlxSprigExecute("0x21:$\u00e9\u00e9"));
  char split[32];
  TlxSprigGetLastError(split, sizeof split, nullptr);
  EXPECT_STREQ(split, "Member \u00e9\u00e9 not found.");
  TlxSprigGetLastError(split, 11, nullptr);
  EXPECT_STREQ(split, "Member \u00e9");
}

TlxSprigValue RunsFailingScript(const TlxSprigValue*, uint64_t) {
  TlxSprigExecute("1 +");
  return TlxSprigValue{1, Sprig::kSprigInteger, 0, {}};
}

// A call made from a host function ends before the call around it: the outer call's outcome is
// the record; another thread keeps its own.
TEST_F(ScriptExports, LastErrorBelongsToTheOutermostCallAndItsThread) {
  TlxSprigBind(&RunsFailingScript, "Host.Fails");
  EXPECT_EQ(Execute("{Host.Fails} + 1"), "Integer 2");
  EXPECT_EQ(LastError(), (SReport{0xDEAD, "none:"}));
  EXPECT_EQ(Execute("{Host.Fails}, 1 +"), "Invalid");
  EXPECT_EQ(LastError(), (SReport{16, "Missing right hand side of \"a + b\"."}));
  uint32_t otherCode = 99;
  std::thread([&] { otherCode = TlxSprigGetLastError(nullptr, 0, nullptr); }).join();
  EXPECT_EQ(otherCode, 0u);
}

// ---- Variables and namespaces ----

TEST_F(ScriptExports, GetVarCreatesVariablesAndNamespacesButExistenceTestsDoNot) {
  EXPECT_FALSE(TlxSprigVarExists("x"));
  const TlxSprigValue x = TlxSprigGetVar("x");
  ASSERT_EQ(x.kind, Sprig::kSprigReference);
  EXPECT_EQ(Describe(*Target(x)), "Integer 0");
  Target(x)->payload = 41;
  EXPECT_EQ(Execute("x + 1"), "Integer 42");
  EXPECT_FALSE(TlxSprigVarExists("nosuch:x"));
  EXPECT_EQ(Quorin::Repository::Get()->Scripts().State().GetNamespaceCount(), 0u);
  EXPECT_EQ(GetVar("nosuch:x"), "Integer 0");
  EXPECT_TRUE(TlxSprigVarExists("nosuch:x"));
  EXPECT_FALSE(TlxSprigVarExists("nosuch:y"));
  EXPECT_EQ(GetVar(nullptr), "Invalid");
  EXPECT_FALSE(TlxSprigVarExists(nullptr));
}

TEST(ScriptExportNames, AreRecordedOnlyWhenStartedWithTheFlag) {
  for (uint8_t flags : {1, 0}) {
    ASSERT_TRUE(TlxInitialize(17, flags));
    TlxSprigGetVar("quest:stage");
    Execute("gold = 1");
    TlxSprigCreateNamespace("World");
    for (const char* name : {"quest", "stage", "gold", "World"}) {
      EXPECT_STREQ(TlxDebug_TryGetString(Hash(name)), flags != 0 ? name : nullptr) << name;
    }
    TlxShutdown();
  }
}

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
  EXPECT_EQ(Records(), 0u);  // the record went with its binding
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
  EXPECT_EQ(Execute("{Math.Clamp \"5\", 0, 10}"), "Invalid");  // code 14 stays inside
  EXPECT_EQ(Execute("{String.Length \"abc\"} + {Math.Clamp 15, 0, 10}"), "Integer 13");
}

std::vector<std::string> g_seen;
char* g_hostBlock = nullptr;

TlxSprigValue Echo(const TlxSprigValue* args, uint64_t count) {
  g_seen.clear();
  for (uint64_t i = 0; i < count; ++i) g_seen.push_back(Describe(args[i]));
  if (count == 0 && args != nullptr) g_seen.push_back("args not null");
  return TlxSprigValue{reinterpret_cast<uintptr_t>(g_hostBlock), Sprig::kSprigString, 0, {}};
}

TlxSprigValue ReturnVariable(const TlxSprigValue*, uint64_t) { return TlxSprigGetVar("target"); }
TlxSprigValue ReturnLiteral(const TlxSprigValue*, uint64_t) {
  return TlxSprigValue{reinterpret_cast<uintptr_t>("not from BrvMalloc"), Sprig::kSprigString, 0, {}};
}
TlxSprigValue ReturnNullString(const TlxSprigValue*, uint64_t) { return TlxSprigValue{0, Sprig::kSprigString, 0, {}}; }

// Arguments are resolved copies (none: a null pointer); results are copied into the library:
// a Reference followed, a String copied whether it came from BrvMalloc or not.
TEST_F(ScriptExports, HostFunctionsGetCopiesAndTheirResultsAreCopied) {
  g_hostBlock = static_cast<char*>(BrvMalloc(16, 1));
  std::strcpy(g_hostBlock, "from host");
  TlxSprigBind(&Echo, "Host.Echo");
  Execute("v = 5, target = 31");
  EXPECT_EQ(Execute("stored = {Host.Echo v, \"s\", 1.5, true}"), "String from host");
  EXPECT_EQ(g_seen, (std::vector<std::string>{"Integer 5", "String s", "Float 1.5", "Boolean true"}));
  Execute("{Host.Echo}");
  EXPECT_TRUE(g_seen.empty());
  BrvFree(g_hostBlock);  // the host's block stayed the host's
  EXPECT_EQ(Execute("stored"), "String from host");
  const std::pair<TlxSprigFunction, const char*> cases[] = {
      {&ReturnVariable, "Integer 31"}, {&ReturnLiteral, "String not from BrvMalloc"}, {&ReturnNullString, "String "}};
  for (const auto& [function, expected] : cases) {
    TlxSprigReleaseNamespace("F");
    TlxSprigBind(function, "F.f");
    EXPECT_EQ(Execute("{F.f}"), expected);
  }
}

// The first binding stays; binding nothing allocates nothing; a failed bind leaves no record.
TEST_F(ScriptExports, HostBindingKeepsTheFirstFunctionAndAllocatesOnlyWhatItBinds) {
  TlxSprigBind(nullptr, "F");
  TlxSprigBind(&ReturnLiteral, nullptr);
  EXPECT_EQ(Records(), 0u);
  // A long namespace name takes blocks of the host, whose allocation can be made to fail.
  const std::string name = std::string(2000, 'N') + ".F";
  EXPECT_GT(QuorinTest::ForEachAllocationFailure([&] { TlxSprigBind(&ReturnLiteral, name.c_str()); }), 0u);
  TlxSprigBind(&ReturnLiteral, "F");
  const uint64_t before = Allocations();
  for (int i = 0; i < 1000; ++i) TlxSprigBind(&ReturnNullString, i % 2 == 0 ? "F" : name.c_str());
  EXPECT_EQ(Allocations(), before);
  EXPECT_EQ(Records(), 2u);
  EXPECT_EQ(Execute(("{F} + {" + name + "}").c_str()), "String not from BrvMallocnot from BrvMalloc");
  TlxClearRepository();
  EXPECT_EQ(Records(), 0u);
  EXPECT_EQ(Execute("{F}"), "Invalid");
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
    EXPECT_EQ(position + buffer[0], 7u + 'z');
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
    EXPECT_FALSE(TlxSprigCheck("1", buffer, sizeof(buffer), &position));
    EXPECT_EQ(TlxSprigGetLastError(buffer, sizeof(buffer), &position), 0u);
    EXPECT_EQ(position + buffer[0], 7u + 'z');
  }
}

}  // namespace
