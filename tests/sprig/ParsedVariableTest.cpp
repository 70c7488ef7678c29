// A parsed expression remembers where its variables live between evaluations; whatever frees
// a variable in between must make it look the variable up again (ASan reads the freed ones).
#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"

namespace {

class ParsedVariables : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 0));
    TlxRegisterDefaultClasses();
  }
  void TearDown() override { TlxShutdown(); }

  // The Integer result, through the Reference an assignment gives.
  static int32_t Run(TlxSprigExpression* expression) {
    TlxSprigValue value = TlxSprigExecuteParsed(expression);
    if (value.kind == 0) value = *reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(value.payload));
    EXPECT_EQ(value.kind, 2);
    return static_cast<int32_t>(value.payload);
  }
};

}  // namespace

TEST_F(ParsedVariables, FreedStoresAreLookedUpAgain) {
  struct Case {
    const char* script;
    void (*freeVariable)();
  };
  const Case cases[] = {
      {"ns:x += 1", [] { TlxSprigReleaseNamespace("ns"); }},
      {"0x7:x += 1",
       [] {
         TlxReleaseInstance(7);
         TlxCreateEmptyInstance(7, 0xFFEE, 0xFFFF, 0xFFFFFFFF);
       }},
      {"x += 1", [] { TlxClearRepository(); }},
  };
  for (const Case& c : cases) {
    TlxCreateEmptyInstance(7, 0xFFEE, 0xFFFF, 0xFFFFFFFF);
    TlxSprigExpression* expression = TlxSprigParse(c.script);
    EXPECT_EQ(Run(expression), 1) << c.script;
    EXPECT_EQ(Run(expression), 2) << c.script;
    c.freeVariable();
    EXPECT_EQ(Run(expression), 1) << c.script << ": a fresh variable after its store went";
    TlxSprigFreeNode(expression);
    TlxClearRepository();
    TlxRegisterDefaultClasses();
  }
}

TEST_F(ParsedVariables, RemovingAnotherVariableKeepsResultsRight) {
  TlxSprigExpression* expression = TlxSprigParse("a:x = a:x + b:y");
  TlxSprigExecute("a:x = 1, b:y = 10");
  EXPECT_EQ(Run(expression), 11);
  TlxSprigReleaseNamespace("b");  // b:y is recreated as 0 on the next look-up
  EXPECT_EQ(Run(expression), 11);
  TlxSprigExecute("b:y = 5");
  EXPECT_EQ(Run(expression), 16);
  TlxSprigFreeNode(expression);
}
