// The standard Math and String functions: results, and argument checks with their messages.
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class StandardFunctionCase : public SprigCaseTest {};
TEST_P(StandardFunctionCase, Outcome) { Check(); }

INSTANTIATE_TEST_SUITE_P(Math, StandardFunctionCase, testing::Values(
    SCase{"{Math.Sum}", "Integer 0"}, SCase{"{Math.Sum 1, 2.5}", "Float 3.5"},
    SCase{"{Math.Sum true, true}", "Integer 2"}, SCase{"{Math.Sum \"a\", \"b\"}", "Integer 0"},
    SCase{"{Math.Min 3, 1, 2}", "Integer 1"}, SCase{"{Math.Min 2, 2.0}", "Integer 2"},
    SCase{"{Math.Max 1, 5.5, 3}", "Float 5.5"}, SCase{"{Math.Max \"aa\", \"b\"}", "String aa"},
    SCase{"{Math.Clamp 15, 0, 10}", "Integer 10"}, SCase{"{Math.Clamp 5, 0, 10}", "Integer 5"},
    SCase{"{Math.Clamp -1.5, 0, 10}", "Float 0"}, SCase{"{Math.Clamp 0.0 / 0.0, 1, 10}", "Float 1"},
    SCase{"{Math.Clamp 5, 10, 0}", "Integer 0"}, SCase{"{Math.Clamp -5, 10, 0}", "Integer 10"},
    SCase{"{Math.Min}", "E13@0 Math.Min requires at least one parameter."},
    SCase{"{Math.Max}", "E13@0 Math.Max requires at least one parameter."},
    SCase{"{Math.Clamp 5, 0}", "E13@0 Math.Clamp requires exactly three parameters."},
    SCase{"{Math.Clamp 5, 0, 1, 2}", "E13@0 Math.Clamp requires exactly three parameters."},
    SCase{"{Math.Clamp \"5\", 0, 10}", "E14@0 Math.Clamp requires first parameter to be float or integer."}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(String, StandardFunctionCase, testing::Values(
    SCase{"{String.Contains \"hello\", \"x\", \"ell\"}", "Boolean true"},
    SCase{"{String.Contains \"abc12\", 12}", "Boolean true"}, SCase{"{String.Contains \"abc\", \"\"}", "Boolean false"},
    SCase{"{String.StartsWith \"hello\", \"He\"}", "Boolean false"},
    SCase{"{String.StartsWith \"hello\", \"x\", \"he\"}", "Boolean true"},
    SCase{"{String.StartsWith \"hello\", \"\"}", "Boolean false"},
    SCase{"{String.EndsWith \"hello\", \"llo\"}", "Boolean true"}, SCase{"{String.Length 12345}", "Integer 5"},
    SCase{"{String.Length \"ab\", \"cde\"}", "Integer 2"}, SCase{"{String.Length \"h\u00e9\"}", "Integer 2"},
    SCase{"{String.Replace \"a-b-c\", \"-\", \"+\"}", "String a+b+c"},
    SCase{"{String.Replace \"x1x\", 1, 2}", "String x2x"}, SCase{"{String.Substring \"abcdef\", 2}", "String cdef"},
    SCase{"{String.Substring \"abcdef\", 1, 3}", "String bc"}, SCase{"{String.Substring \"abc\", 2, 1}", "String "},
    SCase{"{String.Substring \"abc\", 0 - 5, 99}", "String abc"},
    SCase{"{String.Distance \"kitten\", \"sitting\"}", "Integer 3"},
    SCase{"{String.Distance \"abc\", \"ABC\"}", "Integer 3"}, SCase{"{String.Distance \"\", \"abcd\"}", "Integer 4"},
    SCase{"{String.Contains \"a\"}", "E13@0 String.Contains requires at least two parameters."},
    SCase{"{String.Contains 1, 1}", "E14@0 First parameter of String.Contains must be a string."},
    SCase{"{String.StartsWith 1}", "E13@0 String.StartsWith requires at least two parameters."},
    SCase{"{String.StartsWith 1, 1}", "E14@0 First parameter of String.StartsWith must be a string."},
    SCase{"{String.EndsWith 1}", "E13@0 String.EndsWith requires at least two parameters."},
    SCase{"{String.EndsWith 1, 1}", "E14@0 First parameter of String.EndsWith must be a string."},
    SCase{"{String.Length}", "E13@0 String.Length requires one parameter."},
    SCase{"{String.Replace \"a\", \"b\"}", "E13@0 String.Replace requires exactly three parameters."},
    SCase{"{String.Replace 1, 2, 3}", "E14@0 First parameter of String.Replace must be a string."},
    SCase{"{String.Substring \"a\"}", "E13@0 String.Substring requires at least two parameters."},
    SCase{"{String.Substring 1, 1}", "E14@0 First parameter of String.Substring must be a string."},
    SCase{"{String.Substring \"abc\", 1.0}", "E14@0 Second parameter of String.Substring must be an integer."},
    SCase{"{String.Substring \"abc\", 1, \"2\"}", "E14@0 Thrid parameter of String.Substring must be an integer."},
    SCase{"{String.Distance \"a\", \"b\", \"c\"}", "E13@0 String.Distance requires exactly two parameters."},
    SCase{"{String.Distance 1, \"a\"}", "E14@0 First parameter of String.Distance must be a string."},
    SCase{"{String.Distance \"a\", 1}", "E14@0 Second parameter of String.Distance must be a string."}),
    CaseName);

TEST_F(SprigFixture, BindingTheLibraryTwiceChangesNothing) {
  state.BindFunction(SprigCallable{[](const SprigCallable&, TlxSprigValue& result, const TlxSprigValue*,
                                      uint64_t) { SetInteger(result, -1); }, 0},
                     Bravik::CString("Math.Sum"));
  BindStandardFunctions(state);
  BindStandardFunctions(state);
  EXPECT_EQ(Run("{Math.Sum 1, 2}"), "Integer -1");
  EXPECT_EQ(state.FindNamespace(Bravik::CalculateHash(Bravik::CString("Math")))->functions.GetCount(), 4u);
  EXPECT_EQ(state.FindNamespace(Bravik::CalculateHash(Bravik::CString("String")))->functions.GetCount(), 7u);
}

}  // namespace
