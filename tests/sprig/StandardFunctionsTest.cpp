// The standard Math and String functions: results, and argument checks with their messages.
#include "sprig/StandardFunctions.h"
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

struct Case {
  const char* text;
  const char* expected;
};

class StandardFunctionTest : public SprigFixture, public testing::WithParamInterface<Case> {
 protected:
  void SetUp() override { BindStandardFunctions(state); }
};

TEST_P(StandardFunctionTest, Call) {
  EXPECT_EQ(Run(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Math, StandardFunctionTest, testing::Values(
    Case{"{Math.Sum}", "Integer 0"}, Case{"{Math.Sum 1, 2.5}", "Float 3.5"},
    Case{"{Math.Sum true, true}", "Integer 2"}, Case{"{Math.Sum \"a\", \"b\"}", "Integer 0"},
    Case{"{Math.Min 3, 1, 2}", "Integer 1"}, Case{"{Math.Min 2, 2.0}", "Integer 2"},
    Case{"{Math.Max 1, 5.5, 3}", "Float 5.5"}, Case{"{Math.Max \"aa\", \"b\"}", "String aa"},
    Case{"{Math.Clamp 15, 0, 10}", "Integer 10"}, Case{"{Math.Clamp 5, 0, 10}", "Integer 5"},
    Case{"{Math.Clamp -1.5, 0, 10}", "Float 0"}, Case{"{Math.Clamp 0.0 / 0.0, 1, 10}", "Float 1"},
    Case{"{Math.Clamp 5, 10, 0}", "Integer 0"}, Case{"{Math.Clamp -5, 10, 0}", "Integer 10"},
    Case{"{Math.Clamp 20, 10, 0}", "Integer 0"},
    Case{"{Math.Min}", "E13@0 Math.Min requires at least one parameter."},
    Case{"{Math.Max}", "E13@0 Math.Max requires at least one parameter."},
    Case{"{Math.Clamp 5, 0}", "E13@0 Math.Clamp requires exactly three parameters."},
    Case{"{Math.Clamp \"5\", 0, 10}", "E14@0 Math.Clamp requires first parameter to be float or integer."}));

INSTANTIATE_TEST_SUITE_P(String, StandardFunctionTest, testing::Values(
    Case{"{String.Contains \"hello\", \"x\", \"ell\"}", "Boolean true"},
    Case{"{String.Contains \"abc12\", 12}", "Boolean true"},
    Case{"{String.Contains \"abc\", \"\"}", "Boolean false"},
    Case{"{String.StartsWith \"hello\", \"He\"}", "Boolean false"},
    Case{"{String.StartsWith \"hello\", \"x\", \"he\"}", "Boolean true"},
    Case{"{String.StartsWith \"hello\", \"\"}", "Boolean false"},
    Case{"{String.EndsWith \"hello\", \"llo\"}", "Boolean true"},
    Case{"{String.Length 12345}", "Integer 5"}, Case{"{String.Length \"ab\", \"cde\"}", "Integer 2"},
    Case{"{String.Length \"h\u00e9\"}", "Integer 2"},
    Case{"{String.Replace \"a-b-c\", \"-\", \"+\"}", "String a+b+c"},
    Case{"{String.Replace \"x1x\", 1, 2}", "String x2x"},
    Case{"{String.Substring \"abcdef\", 2}", "String cdef"},
    Case{"{String.Substring \"abcdef\", 1, 3}", "String bc"},
    Case{"{String.Substring \"abc\", 2, 1}", "String "},
    Case{"{String.Substring \"abc\", 0 - 5, 99}", "String abc"},
    Case{"{String.Distance \"kitten\", \"sitting\"}", "Integer 3"},
    Case{"{String.Distance \"abc\", \"ABC\"}", "Integer 3"},
    Case{"{String.Distance \"\", \"abcd\"}", "Integer 4"},
    Case{"{String.Contains \"a\"}", "E13@0 String.Contains requires at least two parameters."},
    Case{"{String.Contains 1, 1}", "E14@0 First parameter of String.Contains must be a string."},
    Case{"{String.StartsWith 1}", "E13@0 String.StartsWith requires at least two parameters."},
    Case{"{String.StartsWith 1, 1}", "E14@0 First parameter of String.StartsWith must be a string."},
    Case{"{String.EndsWith 1}", "E13@0 String.EndsWith requires at least two parameters."},
    Case{"{String.EndsWith 1, 1}", "E14@0 First parameter of String.EndsWith must be a string."},
    Case{"{String.Length}", "E13@0 String.Length requires one parameter."},
    Case{"{String.Replace \"a\", \"b\"}", "E13@0 String.Replace requires exactly three parameters."},
    Case{"{String.Replace 1, 2, 3}", "E14@0 First parameter of String.Replace must be a string."},
    Case{"{String.Substring \"a\"}", "E13@0 String.Substring requires at least two parameters."},
    Case{"{String.Substring 1, 1}", "E14@0 First parameter of String.Substring must be a string."},
    Case{"{String.Substring \"abc\", 1.0}", "E14@0 Second parameter of String.Substring must be an integer."},
    Case{"{String.Substring \"abc\", \"1\"}", "E14@0 Second parameter of String.Substring must be an integer."},
    Case{"{String.Substring \"abc\", 1, 2.0}", "E14@0 Thrid parameter of String.Substring must be an integer."},
    Case{"{String.Distance \"a\"}", "E13@0 String.Distance requires exactly two parameters."},
    Case{"{String.Distance 1, \"a\"}", "E14@0 First parameter of String.Distance must be a string."},
    Case{"{String.Distance \"a\", 1}", "E14@0 Second parameter of String.Distance must be a string."}));

TEST_F(SprigFixture, BindingTheLibraryTwiceChangesNothing) {
  state.BindFunction(SprigCallable{[](const SprigCallable&, TlxSprigValue& r,
                                      const TlxSprigValue*, uint64_t) { SetInteger(r, -1); },
                                   0},
                     Bravik::CString("Math.Sum"));
  BindStandardFunctions(state);
  BindStandardFunctions(state);
  EXPECT_EQ(Run("{Math.Sum 1, 2}"), "Integer -1");
  EXPECT_EQ(state.FindNamespace(Bravik::CalculateHash(Bravik::CString("Math")))->functions.GetCount(), 4u);
  EXPECT_EQ(state.FindNamespace(Bravik::CalculateHash(Bravik::CString("String")))->functions.GetCount(), 7u);
}

}  // namespace
