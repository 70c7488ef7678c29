// Tokenizer and parser: token kinds, tree shapes (seen through evaluation), lenient drops and
// the strict errors with their codes and positions.
#include <string>

#include "sprig/StandardFunctions.h"
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

struct Case {
  const char* text;
  const char* expected;
};

// Variables used by the shape cases: a = 10, b = 3, c = 2, d = 24, e = 4.
class ParseTest : public SprigFixture, public testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    BindStandardFunctions(state);
    state.BindFunction(SprigCallable{&CountArguments, 0}, Bravik::CString("Count"));
    for (const char* statement : {"a = 10", "b = 3", "c = 2", "d = 24", "e = 4"}) {
      ASSERT_EQ(Run(statement).rfind("Integer", 0), 0u);
    }
  }
  static void CountArguments(const SprigCallable&, TlxSprigValue& result,
                             const TlxSprigValue*, uint64_t count) {
    SetInteger(result, static_cast<int32_t>(count));
  }
};

TEST_P(ParseTest, Strict) { EXPECT_EQ(Run(GetParam().text), GetParam().expected) << GetParam().text; }

class LenientTest : public ParseTest {};
TEST_P(LenientTest, Lenient) {
  EXPECT_EQ(Run(GetParam().text, true), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Tokens, ParseTest, testing::Values(
    Case{"", "Boolean true"}, Case{"  \t\r\n ", "Boolean true"}, Case{"# a comment (", "Boolean true"},
    Case{"  # after blanks", "Boolean true"}, Case{"1.5", "Float 1.5"}, Case{".5", "Float 0.5"},
    Case{"2.", "Float 2"}, Case{"1.5a", "Float 1.5"},
    Case{"1a.5", "Integer 0"},   // a name: a fresh variable
    Case{"0x10", "Integer 0"},   // a name, not a number Case{"12abc", "Integer 0"},
    Case{"0-5", "Integer -5"},   // the number ends where its token ends Case{"007", "Integer 7"},
    Case{"4294967297", "Integer 1"},  // low 32 bits Case{"true", "Boolean true"},
    Case{"false", "Boolean false"}, Case{"True", "Integer 0"},
    Case{"\"say \\\"hi\\\"\"", "String say \"hi\""}, Case{"\"a\\b c\"", "String a\\b c"},
    Case{"\"x=\\\"", "String x=\\"},
    Case{"\"a\\b\"", "Empty"},   // the escape is still pending at the quote Case{"\"open", "Empty"},
    Case{"\"\"", "String "}, Case{"\"a\"+\"b\"", "String ab"}, Case{"x=.5", "Float 0.5"},
    Case{"x= .5", "Float 0.5"}));

INSTANTIATE_TEST_SUITE_P(Shapes, ParseTest, testing::Values(
    Case{"a - b + c", "Integer 5"},       // a - (b + c) Case{"d / e * c", "Integer 3"},       // d / (e * c)
    Case{"a - b - c", "Integer 5"},       // (a - b) - c Case{"a + b * c", "Integer 16"},
    Case{"(a + b) * c", "Integer 26"},
    Case{"a % b / c", "Integer 0"},       // 10 % (3 / 2) Case{"a != b == c", "Boolean true"},  // a != (b == c)
    Case{"-a + b", "Integer -13"},        // -(a + b) Case{"a+-b", "Integer 7"},
    Case{"a+=-b", "Integer 7"}, Case{"a |= 4", "Integer 14"}, Case{"a <<= 1", "Integer 20"},
    Case{"(a)", "Integer 10"}, Case{"((a))", "Integer 10"}, Case{"()", "Empty"},
    Case{"(a + b", "Integer 13"},
    Case{"{Math.Min (3), (1)}", "Integer 1"}, Case{"{Math.Max (a + 1) * 2, b}", "Integer 22"},
    Case{"{Math.Max {Math.Min 5, 4}, 3} + 1", "Integer 5"},
    Case{"{Math.Min 1", "Empty"},
    // A bracket right after the name holding commas is an argument list.
    Case{"{Count(1, 2)}", "Integer 2"}, Case{"{Count(1, 2), 3}", "Integer 3"},
    Case{"{Count (1, 2, 3)}", "Integer 3"}, Case{"{Count(1)}", "Integer 1"},
    Case{"{Count(1 + 1)}", "Integer 1"}, Case{"{Count}", "Integer 0"},
    Case{"{Count 1, (2, 3)}", "Integer 2"}));

TEST_F(SprigFixture, PostfixThenSubtraction) {
  EXPECT_EQ(RunAfter({"a = 5", "b = 1"}, "a---b"), "Integer 4");
  EXPECT_EQ(Variable("a"), "Integer 4");
}

INSTANTIATE_TEST_SUITE_P(Errors, ParseTest, testing::Values(
    Case{")a", "E4@0 Closing bracket without opening bracket."},
    Case{"a + 1)", "E4@5 Closing bracket without opening bracket."},
    Case{"{ (", "E5@2 Opening bracket in unnamed function block."},
    Case{"{ )", "E5@2 Closing bracket in unnamed function block."},
    Case{"}", "E5@0 Function block to close does not exist."},
    Case{"{F , a}", "E5@3 Parameter without function name."},
    Case{"{ 5 }", "E5@2 Variable used in unnamed function block."},
    Case{"{}", "E6@0 Passed node is a nullptr."},
    Case{"{F 1)", "E4@4 Closing bracket without opening bracket."},
    Case{"\"é\" )", "E4@4 Closing bracket without opening bracket."}));

INSTANTIATE_TEST_SUITE_P(Drops, LenientTest, testing::Values(
    Case{")a", "Integer 10"}, Case{"a + 1)", "Integer 11"}, Case{"{ 5 }", "Empty"},
    Case{"}5", "Integer 5"}, Case{"{ (5", "Empty"}, Case{"{Count , 1}", "Integer 1"},
    Case{"{}a", "Integer 10"}, Case{"a,,b", "E8@1 Missing right hand side of \"a , b\"."},
    Case{"{Math.Min 1", "Empty"}));

TEST(ParsePosition, CountsCharactersInEveryEncoding) {
  const Bravik::CString texts[] = {Bravik::CString(u"\u00e9\U0001F600 )"), Bravik::CString(U"\u00e9\U0001F600 )"),
                                   Bravik::CString("\u00e9\U0001F600 )")};
  for (const Bravik::CString& text : texts) {
    try {
      DestroyTree(Parse(text, false));
      ADD_FAILURE() << "no error";
    } catch (const Quorin::CSprigException& error) {
      EXPECT_EQ(error.GetCode(), 4u);
      EXPECT_EQ(error.GetPosition(), 3u);
    }
  }
}

TEST(ParseName, NonUtf8NamesAreStoredAsUtf8) {
  CScriptState state;
  CTree tree(Parse(Bravik::CString(u"gr\u00fcn = 3"), false));
  CTempValue result;
  EvaluateTree(state, tree.Get(), result.Get());
  EXPECT_TRUE(state.VariableExists(Bravik::CString("gr\u00fcn")));
}

// Deep trees are built and destroyed without recursing on their depth.
TEST(ParseDepth, DeepTreesBuildAndDestroy) {
  constexpr int kDepth = 200000;
  std::string leftDeep = "1", rightDeep, call, nested = std::string(kDepth, '(') + "x";
  for (int i = 0; i < kDepth; ++i) leftDeep += "+1", rightDeep += "1+(";
  rightDeep += "1";
  for (int i = 0; i < 20000; ++i) call += "{F ";
  for (const std::string& text : {leftDeep, rightDeep, nested, call}) {
    DestroyTree(Parse(Bravik::CString(text.c_str()), false));
  }
}

}  // namespace
