// Script values: kind promotion and the result of every operation, conversions, References.
// The examples of docs/sprig.md run as tests too (DocExamplesTest); the cases here are the others.
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class ValueCase : public SprigCaseTest {};
TEST_P(ValueCase, Outcome) { Check(); }

const SCase kOperations[] = {
    {"\"abc\" + 1", "Integer 1"}, {"1 + 2.5", "Float 3.5"}, {"true + 2", "Integer 3"},
    {"{No} + {No}", "Boolean false"}, {"{No} + \"s\"", "String s"}, {"false - true", "Boolean true"},
    {"true * false", "Boolean false"}, {"\"ab\" * \"cd\"", "Invalid"}, {"\"ab\" / \"cd\"", "Invalid"},
    {"\"ab\" % \"cd\"", "Invalid"}, {"\"x\" * true", "Boolean false"}, {"\"true\" * true", "Boolean true"},
    {"(0 - 7) / 2", "Integer -3"}, {"(0 - 7) % 2", "Integer -1"}, {"(0 - 7.5) % 2", "Float -1.5"},
    {"5.0 / 0", "Float inf"}, {"65536 * 65536", "Integer 0"}, {"5 / 0", "Invalid"}, {"5 % 0", "Invalid"},
    {"(0 - 2147483647 - 1) / (0 - 1)", "Integer -2147483648"}, {"(0 - 2147483647 - 1) % (0 - 1)", "Integer 0"},
    {"1 << (0 - 1)", "Integer -2147483648"}, {"(0 - 8) >> 1", "Integer -4"}, {"(0 - 1) >> 40", "Integer -1"}};

const SCase kComparisons[] = {
    {"1.0 != 1.1", "Boolean true"}, {"3 > 2.5", "Boolean true"}, {"\"True\" == true", "Boolean false"},
    {"\"ab\" == false", "Boolean true"}, {"\"ab\" == \"ab\"", "Boolean true"}, {"\"ab\" != \"ac\"", "Boolean true"},
    {"true > false", "Boolean true"}, {"(0.0 / 0.0) < 1", "Boolean true"}, {"(0.0 / 0.0) <= 1", "Boolean true"},
    {"(0.0 / 0.0) > 1", "Boolean false"}, {"(0.0 / 0.0) >= 1", "Boolean false"},
    {"(0.0 / 0.0) == (0.0 / 0.0)", "Boolean false"}, {"1 && \"true\"", "Boolean true"}, {"0 || 0.0", "Boolean false"},
    {"0.00000000000000000001 > 0", "Boolean true"}, {"\"0.00000000000000000001\" > 0.0", "Boolean true"}};

const SCase kUnary[] = {
    {"!0.0", "Boolean true"}, {"!\"x\"", "Invalid"}, {"!{No}", "Boolean true"}, {"-{No}", "Integer 0"},
    {"-\"x\"", "Invalid"}, {"-true", "Boolean false"}, {"-2.5", "Float -2.5"}, {"~5", "Integer -6"},
    {"~true", "Boolean false"}, {"~{No}", "Integer -1"}, {"~\"x\"", "Invalid"}, {"x = false, x++, x", "Boolean true"},
    {"x = true, x--, x", "Boolean false"}, {"x = 2147483647, ++x", "Integer -2147483648"},
    {"x = \"s\", x++, x", "String s"}};

// AsString through a replacement text, AsInteger through `| 0`, AsFloat through `+ 0.0`,
// AsBoolean through `|| false`.
const SCase kConversions[] = {
    {"{String.Replace \"x\", \"x\", 0 - 5}", "String -5"}, {"\"\" + false", "String false"},
    {"\"\" + {No}", "String "}, {"2.9 | 0", "Integer 2"}, {"(0 - 2.7) | 0", "Integer -2"},
    {"(0.0 / 0.0) | 0", "Integer -2147483648"}, {"3000000000.0 | 0", "Integer -2147483648"},
    {"(1.0 / 0) | 0", "Integer -2147483648"}, {"\"12abc\" | 0", "Integer 12"}, {"\"12abc\" + 0.0", "Float 12"},
    {"\"1.5\" + 0.0", "Float 1.5"}, {"\"1.5\" || false", "Boolean false"}, {"\"true\" || false", "Boolean true"},
    {"(0.0 / 0.0) || false", "Boolean false"}};

INSTANTIATE_TEST_SUITE_P(Operations, ValueCase, testing::ValuesIn(kOperations), CaseName);
INSTANTIATE_TEST_SUITE_P(Comparisons, ValueCase, testing::ValuesIn(kComparisons), CaseName);
INSTANTIATE_TEST_SUITE_P(Unary, ValueCase, testing::ValuesIn(kUnary), CaseName);
INSTANTIATE_TEST_SUITE_P(Conversions, ValueCase, testing::ValuesIn(kConversions), CaseName);

TEST(ValueReference, ChainsOfSixteenHopsResolveLongerOnesAndLoopsReadInvalid) {
  TlxSprigValue target = MakeInvalidValue(), chain[17];
  SetInteger(target, 9);
  for (int i = 0; i < 17; ++i) {
    chain[i].kind = kSprigReference;
    chain[i].payload = reinterpret_cast<uintptr_t>(i == 0 ? &target : &chain[i - 1]);
  }
  EXPECT_EQ(AsInteger(chain[15]), 9);           // 16 hops
  EXPECT_EQ(KindOf(chain[16]), kSprigInvalid);  // 17 hops
  SetString(chain[16], "dropped");              // a write through a broken chain is dropped
  EXPECT_EQ(AsInteger(target), 9);
  chain[0].payload = reinterpret_cast<uintptr_t>(&chain[1]);  // a loop
  TlxSprigValue copy = MakeInvalidValue();
  Assign(copy, chain[1]);
  EXPECT_EQ(copy.kind, kSprigInvalid);
}

TEST(ValueReference, AssignThroughReferenceCopiesText) {
  TlxSprigValue variable = MakeInvalidValue(), reference = MakeInvalidValue(), source = MakeInvalidValue();
  MakeReference(reference, &variable);
  SetString(source, "text");
  Assign(reference, source);
  EXPECT_STREQ(TextOf(variable), "text");
  EXPECT_NE(TextOf(variable), TextOf(source));
  EXPECT_EQ(reference.kind, kSprigReference);
  Assign(variable, variable);          // self-assignment keeps the text
  MakeReference(variable, &variable);  // never a Reference to itself
  EXPECT_STREQ(TextOf(variable), "text");
  Release(source);
  Release(variable);
}

}  // namespace
