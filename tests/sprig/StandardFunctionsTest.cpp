// The standard Math and String functions: results, and argument checks with their messages.
// The examples of docs/sprig.md run as tests too (DocExamplesTest); the cases here are the others.
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class StandardFunctionCase : public SprigCaseTest {};
TEST_P(StandardFunctionCase, Outcome) { Check(); }

const SCase kMath[] = {
    {"{Math.Max 1, 5.5, 3}", "Float 5.5"}, {"{Math.Clamp 5, 0, 10}", "Integer 5"},
    {"{Math.Clamp 0.0 / 0.0, 1, 10}", "Float 1"}, {"{Math.Clamp -5, 10, 0}", "Integer 10"},
    {"{Math.Max}", "E13@0 Math.Max requires at least one parameter."},
    {"{Math.Clamp 5, 0, 1, 2}", "E13@0 Math.Clamp requires exactly three parameters."}};

const SCase kString[] = {
    {"{String.Contains \"abc\", \"\"}", "Boolean false"},
    {"{String.StartsWith \"hello\", \"x\", \"he\"}", "Boolean true"},
    {"{String.StartsWith \"hello\", \"\"}", "Boolean false"},
    {"{String.EndsWith \"hello\", \"llo\"}", "Boolean true"}, {"{String.Length \"h\u00e9\"}", "Integer 2"},
    {"{String.Substring \"abc\", 2, 1}", "String "}, {"{String.Substring \"abc\", 0 - 5, 99}", "String abc"},
    {"{String.Distance \"\", \"abcd\"}", "Integer 4"},
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
    {"{String.Substring \"abc\", 1, \"2\"}", "E14@0 Thrid parameter of String.Substring must be an integer."},
    {"{String.Distance \"a\", \"b\", \"c\"}", "E13@0 String.Distance requires exactly two parameters."},
    {"{String.Distance 1, \"a\"}", "E14@0 First parameter of String.Distance must be a string."},
    {"{String.Distance \"a\", 1}", "E14@0 Second parameter of String.Distance must be a string."}};

INSTANTIATE_TEST_SUITE_P(Math, StandardFunctionCase, testing::ValuesIn(kMath), CaseName);
INSTANTIATE_TEST_SUITE_P(String, StandardFunctionCase, testing::ValuesIn(kString), CaseName);

}  // namespace
