// Evaluation: order of operands, steps, assignments, the errors of operator nodes, depth and
// stack use, running out of memory, and the scalar evaluation of pure expressions against the
// general one.
#include <random>
#include <string>

#include "tests/sprig/SprigTestSupport.h"
#include "tests/support/CountingAllocator.h"
#include "tests/support/SmallStack.h"

namespace {

using namespace SprigTest;

class EvaluationCase : public SprigCaseTest {};
TEST_P(EvaluationCase, Outcome) { Check(); }

const SCase kOrder[] = {
    {"x = 1, x++ + x", "Integer 3"}, {"x = 1, ++x + x", "Integer 4"}, {"x = 1.5, x-- + x", "Float 2"},
    {"5++", "Integer 5"}, {"true || ++x, ++x || true, x", "Integer 2"},
    {"false && x++, x++ && false, x", "Integer 2"}, {"x = 5, x + 1", "Integer 6"},
    {"x = 1, x = x + 1, x * 10", "Integer 20"}, {"(x = 5) + 1", "Integer 6"},
    {"x = \"abc\", x += 1", "Integer 1"}, {"x = \"abc\", x += \"d\", x", "String abcd"},
    {"x = \"ab\", x = x", "String ab"}, {"y = 7, x = y, y = 1, x", "Integer 7"},
    {"ns:gold = 12, ns:gold >= 10 && !ns:done", "Boolean true"}, {"{Nope.Fn 1}", "Invalid"},
    {"{Count a, \"s\", 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, a}",
     "Integer 25"}};

const SCase kErrors[] = {
    {"-", "E8@0 Missing right hand side of \"a - b\"."},
    {"1 -", "E8@2 Missing right hand side of \"a - b\"."}, {"!", "E8@0 Missing operant of \"!a\"."},
    {"++", "E8@0 Missing operant of \"++a\"."}, {"a ~ b", "E9@2 operator \"~\" is unary."},
    {"+ 5", "E8@0 Missing right hand side of \"a + b\"."},
    {", 7", "E8@0 Missing right hand side of \"a , b\"."},
    {"x = 4, y +", "E8@9 Missing right hand side of \"a + b\"."},
    {"5 = 3", "E1@0 Trying to assign to a const value."},
    {"{Math.Sum 1} = 2", "E1@11 Trying to assign to a const value."},
    {"a = b = 1", "E1@2 Trying to assign to a const value."}};

INSTANTIATE_TEST_SUITE_P(Order, EvaluationCase, testing::ValuesIn(kOrder), CaseName);
INSTANTIATE_TEST_SUITE_P(Errors, EvaluationCase, testing::ValuesIn(kErrors), CaseName);

TEST_F(SprigFixture, ErrorsKeepEarlierEffectsAndTreesSeeTheirOwn) {
  EXPECT_EQ(Run("x = 4, y +").substr(0, 3), "E8@");
  const CNodeHolder tree = Parse(Bravik::CString("x += 1"), false);
  for (int i = 0; i < 2; ++i) {
    CTempValue result;
    EvaluateTree(state, tree.Get(), result.Get());
  }
  EXPECT_EQ(Variable("x"), "Integer 6");
}

// Every binary operator: a group after it leaves its left side empty, nothing after it its right.
TEST_F(SprigFixture, BinaryOperatorsReportTheMissingSide) {
  // ORDER SPRIG_OP
  for (uint32_t kind = IndexOf(EOperator::kMultiply); kind <= IndexOf(EOperator::kBitOrAssign); ++kind) {
    if (kind == IndexOf(EOperator::kSubtract)) continue;  // unary as well
    const std::string spelling = kOperators[kind].spelling;
    const std::string form = " hand side of \"a " + spelling + " b\".";
    EXPECT_EQ(Run(spelling + "(1)"), "E2@0 Missing left" + form);
    EXPECT_EQ(Run(spelling + "()"), "E2@0 Missing left" + form);  // no children: the left side
    EXPECT_EQ(Run("1 " + spelling), "E8@2 Missing right" + form);
  }
}

// Evaluation takes the same small stack at any depth: the deepest trees of every shape (unary
// chain, nested groups, nested calls, right- and left-leaning chains) parse, evaluate and go on
// a thread with the 64 KiB stack of a game's job thread, and one level more raises instead.
TEST_F(SprigFixture, DeepestTreesFitSmallStacks) {
  BindStandardFunctions(state);
  const struct { const char *open, *close, *value; } shapes[] = {
      {"!", "", "Boolean false"}, {"-(", ")", "Integer -1"}, {"{Math.Sum ", "}", "Integer 1"},
      {"1+(", "", "Integer 1000"}, {"(", ")+1", "Integer 1000"}};
  std::string outcomes[5][2];
  QuorinTest::RunWithStack(64 * 1024, [&] {
    for (int shape = 0; shape < 5; ++shape) {
      for (uint32_t extra = 0; extra < 2; ++extra) {
        std::string opens, closes;  // around the innermost operand
        for (uint32_t i = 0; i + 1 < kMaxEvaluationDepth + extra; ++i) {
          opens += shapes[shape].open, closes += shapes[shape].close;
        }
        outcomes[shape][extra] = Run(opens + "1" + closes);
      }
    }
  });
  for (int shape = 0; shape < 5; ++shape) {
    EXPECT_EQ(outcomes[shape][0], shapes[shape].value) << shape;
    EXPECT_NE(outcomes[shape][1].find("E6@"), std::string::npos) << shape;
    EXPECT_NE(outcomes[shape][1].find("Expression is nested too deeply."), std::string::npos);
  }
}

// Allocation failures anywhere in parsing and evaluation (texts, calls, assignments, a deep
// evaluation) leak nothing and corrupt nothing: the run that succeeds gives the right value.
TEST_F(SprigFixture, RunningOutOfMemoryLeavesNothingBehind) {
  BindStandardFunctions(state);
  const std::string texts = "s = \"" + std::string(3000, 'q') + "\", t = s + \"1\", " +
                            "{String.Length {String.Replace t, \"q\", \"rr\"}} + {Math.Max 2, 3}";
  std::string deep = "x = \"c\", {String.Length " + std::string(100, '(') + "\"ab\"";
  for (int i = 0; i < 100; ++i) deep += ") + x";
  for (const auto& [text, expected] :
       {std::pair{texts, "Integer 6004"}, std::pair{deep + "}", "Integer 102"}}) {
    std::string outcome;
    EXPECT_GT(QuorinTest::ForEachAllocationFailure([&, &input = text] { outcome = Run(input); },
                                                   [&] { Run("s + t + x + {String.Length s}"); }), 0u);
    EXPECT_EQ(outcome, expected);
  }
}

// Random pure expressions over every scalar kind: the scalar evaluation, where it applies, gives
// exactly the value (kind and payload bits) of the general one, and it applies to nearly all.
// What is not pure over scalars is left to the general evaluation, untouched.
class ScalarEvaluationTest : public SprigFixture {
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
  Run("i = -12, f = 0.75, b = true, z = 0, n");  // n stays Invalid
  for (int round = 0; round < 3000; ++round) {
    const std::string text = Operand(4) + " - " + Operand(3);  // an operator at the root
    const CNodeHolder tree = Parse(Bravik::CString(text.c_str()), false);
    CTempValue general;
    EvaluateTree(state, tree.Get(), general.Get(), false);
    const Scalar scalar = EvaluateScalarTree(state, tree.Get());
    ASSERT_NE(scalar, kNoScalar) << text;
    ASSERT_EQ(FromScalar(scalar).kind, general.Get().kind) << text;
    ASSERT_EQ(FromScalar(scalar).payload, general.Get().payload) << text;
  }
  BindStandardFunctions(state);
  Run("s = \"ab\", i = 3");
  for (const char* text : {"i", "s + 1", "\"a\" < \"bb\"", "i = 4", "i++ + 1", "1 + --i", "1, i",
                           "i += 2", "{Math.Max 2} + 1", "!s", "1 ! 2", "1 +"}) {
    EXPECT_EQ(EvaluateScalarTree(state, Parse(Bravik::CString(text), true).Get()), kNoScalar) << text;
    EXPECT_EQ(Variable("i"), "Integer 3") << text;
  }
}

}  // namespace
