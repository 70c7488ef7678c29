// Tokenizer and parser: token kinds, tree shapes (seen through evaluation), lenient drops and
// the strict errors with their codes and positions.
// The examples of docs/sprig.md run as tests too (DocExamplesTest); the cases here are the others.
#include <string>

#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class ParserCase : public SprigCaseTest {};
TEST_P(ParserCase, Outcome) { Check(); }

const SCase kTokens[] = {
    {"", "Boolean true"}, {"\t\r\n # c (", "Boolean true"}, {"1.5a", "Float 1.5"}, {"1a.5", "Integer 0"},
    {"0x10", "Integer 0"}, {"0-5", "Integer -5"}, {"4294967297", "Integer 1"}, {"True", "Integer 0"},
    {"x=.5", "Float 0.5"}, {"x= .5", "Float 0.5"},
    {"7\\8", "Integer 0"},  // the backslash cuts, and the word after it is a name
    {"\"a\\b c\"", "String a\\b c"}, {"\"x=\\\"", "String x=\\"}, {"\"a\\b\"", "Empty"}, {"\"open", "Empty"},
    {"\"\"+\"b\"", "String b"}};

const SCase kShapes[] = {
    {"a - b + c", "Integer 5"}, {"d / e * c", "Integer 3"}, {"a - b - c", "Integer 5"}, {"a + b * c", "Integer 16"},
    {"(a + b) * c", "Integer 26"}, {"-a + b", "Integer -13"}, {"a+-b", "Integer 7"}, {"a |= 4", "Integer 14"},
    {"a <<= 1", "Integer 20"}, {"a---b", "Integer 7"}, {"((a))", "Integer 10"}, {"()", "Empty"},
    {"(a + b", "Integer 13"}, {"!!!!a", "Boolean true"}, {"- - -a * b", "Integer -30"},
    {"{Math.Min (3), (1)}", "Integer 1"}, {"{Math.Max (a + 1) * 2, b}", "Integer 22"},
    {"{Math.Max {Math.Min 5, 4}, 3} + 1", "Integer 5"}, {"{Math.Min 1", "Empty"}, {"{Count(1, 2), 3}", "Integer 3"},
    {"{Count (1, 2, 3)}", "Integer 3"}, {"{Count(1 + 1)}", "Integer 1"}, {"{Count}", "Integer 0"},
    {"{Count 1, (2, 3)}", "Integer 2"}};

const SCase kErrors[] = {
    {"a + 1)", "E4@5 Closing bracket without opening bracket."},
    {"{F 1)", "E4@4 Closing bracket without opening bracket."},
    {"{ (", "E5@2 Opening bracket in unnamed function block."},
    {"{ )", "E5@2 Closing bracket in unnamed function block."}, {"{F , a}", "E5@3 Parameter without function name."},
    {")a", "Integer 10", true}, {"a + 1)", "Integer 11", true}, {"{ 5 }", "Empty", true}, {"}5", "Integer 5", true},
    {"{ (5", "Empty", true}, {"{Count , 1}", "Integer 1", true}, {"{}a", "Integer 10", true}};

INSTANTIATE_TEST_SUITE_P(Tokens, ParserCase, testing::ValuesIn(kTokens), CaseName);
INSTANTIATE_TEST_SUITE_P(Shapes, ParserCase, testing::ValuesIn(kShapes), CaseName);
INSTANTIATE_TEST_SUITE_P(Errors, ParserCase, testing::ValuesIn(kErrors), CaseName);

// Positions count characters in every encoding, and names arrive as UTF-8.
TEST_F(SprigFixture, OtherEncodings) {
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
  CTempValue result;
  EvaluateTree(state, Parse(Bravik::CString(u"gr\u00fcn = 3"), false).Get(), result.Get());
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
