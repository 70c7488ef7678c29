// Script state: function names, disposal while scripts run, object forms without a
// resolver.
#include <string>

#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;
using Bravik::CString;

void ReturnContext(const SprigCallable& self, TlxSprigValue& r, const TlxSprigValue*, uint64_t) {
  SetInteger(r, static_cast<int32_t>(self.context));
}

uint32_t Hash(const char* name) { return Bravik::CalculateHash(CString(name)); }

// A dotted name splits at its first dot: function B.C of namespace A.
TEST_F(SprigFixture, BindingSplitsTheNameAtTheFirstDot) {
  EXPECT_TRUE(state.BindFunction(SprigCallable{&ReturnContext, 42}, CString("A.B.C")));
  EXPECT_EQ(Run("{A.B.C}"), "Integer 42");
  EXPECT_NE(state.FindNamespace(Hash("A")), nullptr);
  EXPECT_EQ(Run("{Missing.Fn}"), "Invalid");
  EXPECT_EQ(state.FindNamespace(Hash("Missing")), nullptr);
}

// What is disposed of while a script runs waits for the outermost one; with none, it goes at once.
TEST_F(SprigFixture, DisposalsWaitForTheOutermostRunningScript) {
  int destroyed = 0;
  const auto dispose = [&] {
    state.PrepareDisposal();
    state.Dispose(&destroyed, [](void* counter) { ++*static_cast<int*>(counter); });
  };
  {
    CScriptState::CRunningScript outer(state);
    {
      CScriptState::CRunningScript inner(state);
      dispose();
      Run("ns:x = 1");
      state.ReleaseNamespace(Hash("ns"));
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_FALSE(state.VariableExists(CString("ns:x")));  // gone for everyone at once
  }
  EXPECT_EQ(destroyed, 1);
  dispose();
  EXPECT_EQ(destroyed, 2);
}

// Without the resolver the Repository installs, every object form reads as absent (the binding
// tests read them through the real one).
TEST_F(SprigFixture, ObjectFormsWithoutResolverAreAbsent) {
  EXPECT_EQ(Run("0x5:$Count"), "E7@0 Object 0x5 not found.");
  EXPECT_EQ(Run("1 + $0x7:var"), "E10@4 Namespace $0x7 not found.");
  EXPECT_EQ(Run("0x5:$Count = 3"), "Integer 3");
  EXPECT_EQ(Variable("$0x7:var"), "Invalid");
  EXPECT_FALSE(state.VariableExists(CString("0x5:$Count")));
}

}  // namespace
