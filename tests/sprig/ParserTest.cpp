// Tokenizer and parser: token kinds, tree shapes (seen through evaluation), lenient drops and
// the strict errors with their codes and positions.
#include <string>

#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class ParserCase : public SprigCaseTest {};
TEST_P(ParserCase, Outcome) { Check(); }

INSTANTIATE_TEST_SUITE_P(Tokens, ParserCase, testing::Values(
    SCase{"", "Boolean true"}, SCase{"  \t\r\n ", "Boolean true"}, SCase{"  # c (", "Boolean true"},
    SCase{"1.5", "Float 1.5"}, SCase{".5", "Float 0.5"}, SCase{"2.", "Float 2"},
    SCase{"1.5a", "Float 1.5"}, SCase{"1a.5", "Integer 0"}, SCase{"0x10", "Integer 0"},
    SCase{"12abc", "Integer 0"}, SCase{"0-5", "Integer -5"}, SCase{"007", "Integer 7"},
    SCase{"4294967297", "Integer 1"}, SCase{"false", "Boolean false"}, SCase{"True", "Integer 0"},
    SCase{"7\\8", "Integer 0"},  // the backslash cuts, and the word after it is a name
    SCase{"\"say \\\"hi\\\"\"", "String say \"hi\""}, SCase{"\"a\\b c\"", "String a\\b c"},
    SCase{"\"x=\\\"", "String x=\\"}, SCase{"\"a\\b\"", "Empty"}, SCase{"\"open", "Empty"},
    SCase{"\"\"", "String "}, SCase{"\"a\"+\"b\"", "String ab"}, SCase{"x=.5", "Float 0.5"},
    SCase{"x= .5", "Float 0.5"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Shapes, ParserCase, testing::Values(
    SCase{"a - b + c", "Integer 5"}, SCase{"d / e * c", "Integer 3"}, SCase{"a - b - c", "Integer 5"},
    SCase{"a + b * c", "Integer 16"}, SCase{"(a + b) * c", "Integer 26"}, SCase{"a % b / c", "Integer 0"},
    SCase{"a != b == c", "Boolean true"}, SCase{"-a + b", "Integer -13"}, SCase{"a+-b", "Integer 7"},
    SCase{"a+=-b", "Integer 7"}, SCase{"a |= 4", "Integer 14"}, SCase{"a <<= 1", "Integer 20"},
    SCase{"a---b", "Integer 7"}, SCase{"((a))", "Integer 10"}, SCase{"()", "Empty"},
    SCase{"(a + b", "Integer 13"}, SCase{"!!!!a", "Boolean true"}, SCase{"- - -a * b", "Integer -30"},
    SCase{"{Math.Min (3), (1)}", "Integer 1"}, SCase{"{Math.Max (a + 1) * 2, b}", "Integer 22"},
    SCase{"{Math.Max {Math.Min 5, 4}, 3} + 1", "Integer 5"}, SCase{"{Math.Min 1", "Empty"},
    SCase{"{Count(1, 2)}", "Integer 2"}, SCase{"{Count(1, 2), 3}", "Integer 3"},
    SCase{"{Count (1, 2, 3)}", "Integer 3"}, SCase{"{Count(1 + 1)}", "Integer 1"},
    SCase{"{Count}", "Integer 0"}, SCase{"{Count 1, (2, 3)}", "Integer 2"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Errors, ParserCase, testing::Values(
    SCase{")a", "E4@0 Closing bracket without opening bracket."},
    SCase{"a + 1)", "E4@5 Closing bracket without opening bracket."},
    SCase{"{ (", "E5@2 Opening bracket in unnamed function block."},
    SCase{"{ )", "E5@2 Closing bracket in unnamed function block."},
    SCase{"}", "E5@0 Function block to close does not exist."},
    SCase{"{F , a}", "E5@3 Parameter without function name."},
    SCase{"{ 5 }", "E5@2 Variable used in unnamed function block."},
    SCase{"{}", "E6@0 Passed node is a nullptr."},
    SCase{"{F 1)", "E4@4 Closing bracket without opening bracket."},
    SCase{"\"é\" )", "E4@4 Closing bracket without opening bracket."}), CaseName);

INSTANTIATE_TEST_SUITE_P(Drops, ParserCase, testing::Values(
    SCase{")a", "Integer 10", true}, SCase{"a + 1)", "Integer 11", true}, SCase{"{ 5 }", "Empty", true},
    SCase{"}5", "Integer 5", true}, SCase{"{ (5", "Empty", true}, SCase{"{Count , 1}", "Integer 1", true},
    SCase{"{}a", "Integer 10", true},
    SCase{"a,,b", "E8@1 Missing right hand side of \"a , b\".", true}), CaseName);

TEST(ParsePosition, CountsCharactersInEveryEncoding) {
  for (const Bravik::CString& text : {Bravik::CString(u"\u00e9\U0001F600 )"),
                                      Bravik::CString(U"\u00e9\U0001F600 )"),
                                      Bravik::CString("\u00e9\U0001F600 )")}) {
    try {
      Parse(text, false);
      ADD_FAILURE() << "no error";
    } catch (const Quorin::CSprigException& error) {
      EXPECT_EQ(error.GetPosition(), 3u);
    }
  }
}

TEST_F(SprigFixture, NamesInOtherEncodingsAreStoredAsUtf8) {
  const CNodeHolder tree = Parse(Bravik::CString(u"gr\u00fcn = 3"), false);
  CTempValue result;
  EvaluateTree(state, tree.Get(), result.Get());
  EXPECT_EQ(Variable("gr\u00fcn"), "Integer 3");
}

// Deep trees of every shape are built and destroyed without recursing on their depth.
TEST(ParseDepth, DeepTreesBuildAndDestroy) {
  constexpr int kDepth = 200000;
  std::string leftDeep = "1", rightDeep, call;
  for (int i = 0; i < kDepth; ++i) leftDeep += "+1", rightDeep += "1+(";
  for (int i = 0; i < 20000; ++i) call += "{F ";
  for (const std::string& text : {leftDeep, rightDeep + "1", std::string(kDepth, '(') + "x", call,
                                  std::string(kDepth, '!') + "1"}) {
    Parse(Bravik::CString(text.c_str()), false);
  }
}

}  // namespace
