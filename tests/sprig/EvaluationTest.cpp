// Evaluation: order of operands, steps, assignments, the errors of operator nodes, depth, and the
// scalar evaluation of pure expressions against the general one.
#include <cstring>
#include <random>
#include <string>

#include "sprig/StandardFunctions.h"
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class EvaluationTest : public SprigFixture {
 protected:
  void SetUp() override { BindStandardFunctions(state); }
};

TEST_F(EvaluationTest, RightOperandIsReadAfterLeftStepped) {
  EXPECT_EQ(RunAfter({"x = 1"}, "x++ + x"), "Integer 3");
  EXPECT_EQ(Variable("x"), "Integer 2");
}

TEST_F(EvaluationTest, PostfixGivesOldValuePrefixGivesNew) {
  EXPECT_EQ(RunAfter({"x = 1"}, "x++"), "Integer 1");
  EXPECT_EQ(Variable("x"), "Integer 2");
  EXPECT_EQ(RunAfter({"x = 1"}, "++x"), "Integer 2");
  EXPECT_EQ(Variable("x"), "Integer 2");
  EXPECT_EQ(RunAfter({"x = 1.5"}, "x--"), "Float 1.5");
  EXPECT_EQ(Variable("x"), "Float 0.5");
  EXPECT_EQ(Run("5++"), "Integer 5");  // a constant: only the temporary steps
}

TEST_F(EvaluationTest, BothSidesOfLogicalOperatorsRun) {
  EXPECT_EQ(RunAfter({"x = 0"}, "true || ++x"), "Boolean true");
  EXPECT_EQ(Variable("x"), "Integer 1");
  EXPECT_EQ(Run("false && x++"), "Boolean false");
  EXPECT_EQ(Variable("x"), "Integer 2");
}

TEST_F(EvaluationTest, CommaRunsLeftFirstAndGivesRight) {
  EXPECT_EQ(Run("x = 5, x + 1"), "Integer 6");
  EXPECT_EQ(Variable("x"), "Integer 5");
  EXPECT_EQ(Run("x = 1, x = x + 1, x * 10"), "Integer 20");
  EXPECT_EQ(Run("x = 4, y +"), "E8@9 Missing right hand side of \"a + b\".");
  EXPECT_EQ(Variable("x"), "Integer 4");  // an error leaves earlier effects
}

TEST_F(EvaluationTest, AssignmentGivesTheVariable) {
  EXPECT_EQ(Run("(x = 5) + 1"), "Integer 6");
  EXPECT_EQ(RunAfter({"x = \"abc\""}, "x += 1"), "Integer 1");
  EXPECT_EQ(RunAfter({"x = \"abc\""}, "x += \"d\""), "String abcd");
  EXPECT_EQ(Variable("x"), "String abcd");
  EXPECT_EQ(RunAfter({"x = \"ab\""}, "x = x"), "String ab");
  EXPECT_EQ(RunAfter({"y = 7"}, "x = y"), "Integer 7");
  EXPECT_EQ(Run("y = 1"), "Integer 1");
  EXPECT_EQ(Variable("x"), "Integer 7");  // a copy, not a link
  EXPECT_EQ(Run("ns:gold = 12, ns:gold >= 10 && !ns:done"), "Boolean true");
}

TEST_F(EvaluationTest, TreeEvaluatedTwiceSeesItsOwnChanges) {
  CTree tree(Parse(Bravik::CString("x += 1"), false));
  for (int i = 0; i < 2; ++i) {
    CTempValue result;
    EvaluateTree(state, tree.Get(), result.Get());
  }
  EXPECT_EQ(Variable("x"), "Integer 2");
}

struct Case {
  const char* text;
  const char* expected;
};

class EvaluationErrorTest : public EvaluationTest, public testing::WithParamInterface<Case> {};

TEST_P(EvaluationErrorTest, RaisesCodeMessageAndPosition) {
  EXPECT_EQ(Run(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Operators, EvaluationErrorTest, testing::Values(
    Case{"-", "E8@0 Missing right hand side of \"a - b\"."},
    Case{"1 -", "E8@2 Missing right hand side of \"a - b\"."},
    Case{"!", "E8@0 Missing operant of \"!a\"."}, Case{"~", "E8@0 Missing operant of \"~a\"."},
    Case{"++", "E8@0 Missing operant of \"++a\"."}, Case{"--", "E8@0 Missing operant of \"--a\"."},
    Case{"a ! b", "E9@2 operator \"!\" is unary."}, Case{"a ~ b", "E9@2 operator \"~\" is unary."},
    Case{"+ 5", "E8@0 Missing right hand side of \"a + b\"."},
    Case{", 7", "E8@0 Missing right hand side of \"a , b\"."},
    Case{"5 = 3", "E0@0 Trying to assign to a const value."},
    Case{"(a + b) = 3", "E0@3 Trying to assign to a const value."},
    Case{"{Math.Sum 1} = 2", "E0@11 Trying to assign to a const value."},
    Case{"a = b = 1", "E0@2 Trying to assign to a const value."},
    Case{"x++ = 1", "E0@1 Trying to assign to a const value."}));

// Every binary operator: a group after it leaves its left side empty, nothing after it its right.
class MissingOperandTest : public EvaluationTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(MissingOperandTest, LeftThenRight) {
  const std::string spelling = kOperators[GetParam()].spelling;
  const std::string form = " hand side of \"a " + spelling + " b\".";
  EXPECT_EQ(Run(spelling + "(1)"), "E2@0 Missing left" + form);
  EXPECT_EQ(Run(spelling + "()"), "E2@0 Missing left" + form);  // no children: the left is reported
  EXPECT_EQ(Run("1 " + spelling), "E8@2 Missing right" + form);
}

INSTANTIATE_TEST_SUITE_P(Binary, MissingOperandTest,
                         testing::Values(8u, 9u, 10u, 11u, 13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u,
                                         21u, 22u, 23u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 31u,
                                         32u, 33u, 34u, 35u, 36u));

// A tree may be as deep as the limit; one more level raises instead of exhausting the stack.
TEST_F(EvaluationTest, DepthIsLimited) {
  std::string atLimit = "1";
  for (uint32_t i = 1; i < kMaxEvaluationDepth; ++i) atLimit += "+1";
  EXPECT_EQ(Run(atLimit), "Integer 1000");
  std::string rightDeep, calls;
  for (int i = 0; i < 50000; ++i) rightDeep += "1+(";
  for (int i = 0; i < 2000; ++i) calls += "{Math.Sum ";
  for (const std::string& text : {atLimit + "+1", rightDeep + "1", std::string(3000, '!') + "x",
                                  calls + "1" + std::string(2000, '}')}) {
    const std::string outcome = Run(text);
    EXPECT_EQ(outcome.substr(0, 3), "E6@") << outcome.substr(0, 60);
    EXPECT_NE(outcome.find("Expression is nested too deeply."), std::string::npos);
  }
}

TEST_F(EvaluationTest, FunctionArgumentsAreResolvedCopies) {
  struct Probe {
    static void Entry(const SprigCallable&, TlxSprigValue& result, const TlxSprigValue* args,
                      uint64_t count) {
      bool plain = true;
      for (uint64_t i = 0; i < count; ++i) plain = plain && args[i].kind != kSprigReference;
      SetBoolean(result, plain);
    }
  };
  state.BindFunction(SprigCallable{&Probe::Entry, 0}, Bravik::CString("Probe"));
  EXPECT_EQ(RunAfter({"s = \"t\""}, "{Probe s, 1, s, 2, 3, 4, 5, 6, 7, 8, s}"), "Boolean true");
  EXPECT_EQ(Run("{Nope.Fn 1}"), "Invalid");
  EXPECT_EQ(Run("{Nope 1}"), "Invalid");
}

// Random pure expressions over every scalar kind: the scalar evaluation, where it applies, gives
// exactly the value (kind and payload bits) of the general one, and it applies to nearly all.
class ScalarEvaluationTest : public EvaluationTest {
 protected:
  std::string Operand(int depth) {
    static const char* const kLeaves[] = {"0", "1", "7", "33", "2147483647", "0.1", "2.5", "100.0",
                                          "true", "false", "i", "f", "b", "n", "z"};
    static const char* const kBinary[] = {"*", "/", "%", "+", "-", "<<", ">>", "<", "<=", ">",
                                          ">=", "==", "!=", "&", "^", "|", "&&", "||"};
    static const char* const kUnary[] = {"!", "~", "-"};
    const uint32_t pick = m_random() % 8;
    if (depth == 0 || pick < 3) return kLeaves[m_random() % std::size(kLeaves)];
    if (pick == 3) return std::string(kUnary[m_random() % 3]) + "(" + Operand(depth - 1) + ")";
    return "(" + Operand(depth - 1) + " " + kBinary[m_random() % std::size(kBinary)] + " " +
           Operand(depth - 1) + ")";
  }
  std::mt19937 m_random{20261206};
};

TEST_F(ScalarEvaluationTest, AgreesWithGeneralEvaluation) {
  RunAfter({"i = -12", "f = 0.75", "b = true", "z = 0"}, "n");  // n stays Invalid
  for (int round = 0; round < 3000; ++round) {
    const std::string text = Operand(4) + " - " + Operand(3);  // an operator at the root
    CTree tree(Parse(Bravik::CString(text.c_str()), false));
    CTempValue general;
    EvaluateTree(state, tree.Get(), general.Get(), false);
    const Scalar scalar = EvaluateScalarTree(state, tree.Get());
    ASSERT_NE(scalar, kNoScalar) << text;
    const TlxSprigValue fast = FromScalar(scalar);
    ASSERT_EQ(fast.kind, general.Get().kind) << text;
    ASSERT_EQ(fast.payload, general.Get().payload) << text;
  }
}

// What is not pure over scalars is left to the general evaluation, untouched.
TEST_F(ScalarEvaluationTest, LeavesImpureAndTextExpressionsAlone) {
  RunAfter({"s = \"ab\"", "i = 3"}, "i");
  for (const char* text : {"i", "s + 1", "\"a\" < \"bb\"", "i = 4", "i++ + 1", "1 + --i", "1, i",
                           "i += 2", "{Math.Max 2} + 1", "!s", "1 ! 2", "1 +"}) {
    CTree tree(Parse(Bravik::CString(text), true));
    EXPECT_EQ(EvaluateScalarTree(state, tree.Get()), kNoScalar) << text;
    EXPECT_EQ(Variable("i"), "Integer 3") << text;
  }
}

}  // namespace
