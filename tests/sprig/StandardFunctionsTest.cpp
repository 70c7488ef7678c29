// The standard Math and String functions: results, and argument checks with their messages.
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class StandardFunctionCase : public SprigCaseTest {};
TEST_P(StandardFunctionCase, Outcome) { Check(); }

const SCase kMath[] = {
    {"{Math.Sum}", "Integer 0"}, {"{Math.Sum 1, 2.5}", "Float 3.5"}, {"{Math.Sum true, true}", "Integer 2"},
    {"{Math.Sum \"a\", \"b\"}", "Integer 0"}, {"{Math.Min 3, 1, 2}", "Integer 1"},
    {"{Math.Min 2, 2.0}", "Integer 2"}, {"{Math.Max 1, 5.5, 3}", "Float 5.5"},
    {"{Math.Max \"aa\", \"b\"}", "String aa"}, {"{Math.Clamp 15, 0, 10}", "Integer 10"},
    {"{Math.Clamp 5, 0, 10}", "Integer 5"}, {"{Math.Clamp -1.5, 0, 10}", "Float 0"},
    {"{Math.Clamp 0.0 / 0.0, 1, 10}", "Float 1"}, {"{Math.Clamp 5, 10, 0}", "Integer 0"},
    {"{Math.Clamp -5, 10, 0}", "Integer 10"},
    {"{Math.Min}", "E13@0 Math.Min requires at least one parameter."},
    {"{Math.Max}", "E13@0 Math.Max requires at least one parameter."},
    {"{Math.Clamp 5, 0}", "E13@0 Math.Clamp requires exactly three parameters."},
    {"{Math.Clamp 5, 0, 1, 2}", "E13@0 Math.Clamp requires exactly three parameters."},
    {"{Math.Clamp \"5\", 0, 10}", "E14@0 Math.Clamp requires first parameter to be float or integer."}};

const SCase kString[] = {
    {"{String.Contains \"hello\", \"x\", \"ell\"}", "Boolean true"},
    {"{String.Contains \"abc12\", 12}", "Boolean true"}, {"{String.Contains \"abc\", \"\"}", "Boolean false"},
    {"{String.StartsWith \"hello\", \"He\"}", "Boolean false"},
    {"{String.StartsWith \"hello\", \"x\", \"he\"}", "Boolean true"},
    {"{String.StartsWith \"hello\", \"\"}", "Boolean false"},
    {"{String.EndsWith \"hello\", \"llo\"}", "Boolean true"}, {"{String.Length 12345}", "Integer 5"},
    {"{String.Length \"ab\", \"cde\"}", "Integer 2"}, {"{String.Length \"h\u00e9\"}", "Integer 2"},
    {"{String.Replace \"a-b-c\", \"-\", \"+\"}", "String a+b+c"},
    {"{String.Replace \"x1x\", 1, 2}", "String x2x"}, {"{String.Substring \"abcdef\", 2}", "String cdef"},
    {"{String.Substring \"abcdef\", 1, 3}", "String bc"}, {"{String.Substring \"abc\", 2, 1}", "String "},
    {"{String.Substring \"abc\", 0 - 5, 99}", "String abc"},
    {"{String.Distance \"kitten\", \"sitting\"}", "Integer 3"},
    {"{String.Distance \"abc\", \"ABC\"}", "Integer 3"}, {"{String.Distance \"\", \"abcd\"}", "Integer 4"},
    {"{String.Contains \"a\"}", "E13@0 String.Contains requires at least two parameters."},
    {"{String.Contains 1, 1}", "E14@0 First parameter of String.Contains must be a string."},
    {"{String.StartsWith 1}", "E13@0 String.StartsWith requires at least two parameters."},
    {"{String.StartsWith 1, 1}", "E14@0 First parameter of String.StartsWith must be a string."},
    {"{String.EndsWith 1}", "E13@0 String.EndsWith requires at least two parameters."},
    {"{String.EndsWith 1, 1}", "E14@0 First parameter of String.EndsWith must be a string."},
    {"{String.Length}", "E13@0 String.Length requires one parameter."},
    {"{String.Replace \"a\", \"b\"}", "E13@0 String.Replace requires exactly three parameters."},
    {"{String.Replace 1, 2, 3}", "E14@0 First parameter of String.Replace must be a string."},
    {"{String.Substring \"a\"}", "E13@0 String.Substring requires at least two parameters."},
    {"{String.Substring 1, 1}", "E14@0 First parameter of String.Substring must be a string."},
    {"{String.Substring \"abc\", 1.0}", "E14@0 Second parameter of String.Substring must be an integer."},
    {"{String.Substring \"abc\", 1, \"2\"}", "E14@0 Thrid parameter of String.Substring must be an integer."},
    {"{String.Distance \"a\", \"b\", \"c\"}", "E13@0 String.Distance requires exactly two parameters."},
    {"{String.Distance 1, \"a\"}", "E14@0 First parameter of String.Distance must be a string."},
    {"{String.Distance \"a\", 1}", "E14@0 Second parameter of String.Distance must be a string."}};

INSTANTIATE_TEST_SUITE_P(Math, StandardFunctionCase, testing::ValuesIn(kMath), CaseName);
INSTANTIATE_TEST_SUITE_P(String, StandardFunctionCase, testing::ValuesIn(kString), CaseName);

}  // namespace
