// Script values: kind promotion and the result of every operation, conversions, References.
#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

class ValueCase : public SprigCaseTest {};
TEST_P(ValueCase, Outcome) { Check(); }

INSTANTIATE_TEST_SUITE_P(Promotion, ValueCase, testing::Values(
    SCase{"\"10\" + 5", "Integer 15"}, SCase{"\"abc\" + 1", "Integer 1"}, SCase{"\"ab\" + \"cd\"", "String abcd"},
    SCase{"\"ab\" + true", "String abtrue"}, SCase{"1 + 2.5", "Float 3.5"}, SCase{"true + 2", "Integer 3"},
    SCase{"2.0 == 2", "Boolean true"}, SCase{"3 > 2.5", "Boolean true"}, SCase{"{No} + {No}", "Boolean false"},
    SCase{"{No} + \"s\"", "String s"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Arithmetic, ValueCase, testing::Values(
    SCase{"true + false", "Boolean true"}, SCase{"true - true", "Boolean false"},
    SCase{"true - false", "Boolean true"}, SCase{"true * false", "Boolean false"},
    SCase{"\"banana\" - \"an\"", "String ba"}, SCase{"\"aaa\" - \"aa\"", "String a"},
    SCase{"\"abc\" * \"def\"", "Invalid"}, SCase{"\"abc\" / \"def\"", "Invalid"}, SCase{"\"abc\" % \"d\"", "Invalid"},
    SCase{"\"x\" * true", "Boolean false"}, SCase{"\"true\" * true", "Boolean true"}, SCase{"7 / 2", "Integer 3"},
    SCase{"(0 - 7) / 2", "Integer -3"}, SCase{"(0 - 7) % 2", "Integer -1"}, SCase{"7.0 / 2", "Float 3.5"},
    SCase{"7.5 % 2", "Float 1.5"}, SCase{"(0 - 7.5) % 2", "Float -1.5"}, SCase{"5.0 / 0", "Float inf"},
    SCase{"2147483647 + 1", "Integer -2147483648"}, SCase{"65536 * 65536", "Integer 0"},
    SCase{"5 / 0", "Invalid"}, SCase{"5 % 0", "Invalid"}, SCase{"1 << 33", "Integer 2"},
    SCase{"(0 - 2147483647 - 1) / (0 - 1)", "Integer -2147483648"},
    SCase{"(0 - 2147483647 - 1) % (0 - 1)", "Integer 0"}, SCase{"1 << (0 - 1)", "Integer -2147483648"},
    SCase{"(0 - 8) >> 1", "Integer -4"}, SCase{"(0 - 1) >> 40", "Integer -1"}, SCase{"6 & 3", "Integer 2"},
    SCase{"6 | 3", "Integer 7"}, SCase{"6 ^ 3", "Integer 5"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Comparison, ValueCase, testing::Values(
    SCase{"0.1 + 0.2 == 0.3", "Boolean true"}, SCase{"1.0 == 1.0000001", "Boolean true"},
    SCase{"1.0 != 1.1", "Boolean true"}, SCase{"\"10\" == 10", "Boolean true"},
    SCase{"\"true\" == true", "Boolean true"}, SCase{"\"True\" == true", "Boolean false"},
    SCase{"\"abc\" == false", "Boolean true"}, SCase{"\"abc\" == \"abc\"", "Boolean true"},
    SCase{"\"abc\" != \"abd\"", "Boolean true"}, SCase{"\"b\" < \"aa\"", "Boolean true"},
    SCase{"\"abc\" < \"xyz\"", "Boolean false"}, SCase{"\"ab\" <= \"ba\"", "Boolean true"},
    SCase{"true > false", "Boolean true"}, SCase{"(0.0 / 0.0) < 1", "Boolean true"},
    SCase{"(0.0 / 0.0) <= 1", "Boolean true"}, SCase{"(0.0 / 0.0) > 1", "Boolean false"},
    SCase{"(0.0 / 0.0) >= 1", "Boolean false"}, SCase{"(0.0 / 0.0) == (0.0 / 0.0)", "Boolean false"},
    SCase{"1 && \"true\"", "Boolean true"}, SCase{"0 || 0.0", "Boolean false"},
    SCase{"0.00000000000000000001 > 0", "Boolean true"},
    SCase{"\"0.00000000000000000001\" > 0.0", "Boolean true"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Unary, ValueCase, testing::Values(
    SCase{"!0.0", "Boolean true"}, SCase{"!2.5", "Boolean false"}, SCase{"!0", "Boolean true"},
    SCase{"!\"x\"", "Invalid"}, SCase{"!{No}", "Boolean true"}, SCase{"-{No}", "Integer 0"},
    SCase{"-\"x\"", "Invalid"}, SCase{"-true", "Boolean false"}, SCase{"-2.5", "Float -2.5"},
    SCase{"~5", "Integer -6"}, SCase{"~true", "Boolean false"}, SCase{"~2.5", "Float -3"},
    SCase{"~{No}", "Integer -1"}, SCase{"~\"x\"", "Invalid"}, SCase{"x = false, x++, x", "Boolean true"},
    SCase{"x = true, x--, x", "Boolean false"}, SCase{"x = 2147483647, ++x", "Integer -2147483648"},
    SCase{"x = \"s\", x++, x", "String s"}), CaseName);

// AsString through a replacement text, AsInteger through `| 0`, AsFloat through `+ 0.0`,
// AsBoolean through `|| false`.
INSTANTIATE_TEST_SUITE_P(Conversion, ValueCase, testing::Values(
    SCase{"{String.Replace \"x\", \"x\", 2.0}", "String 2.0"}, SCase{"\"\" + false", "String false"},
    SCase{"{String.Replace \"x\", \"x\", 0.1}", "String 0.100000001490116"},
    SCase{"{String.Replace \"x\", \"x\", 0 - 5}", "String -5"}, SCase{"\"\" + {No}", "String "},
    SCase{"2.9 | 0", "Integer 2"}, SCase{"(0 - 2.7) | 0", "Integer -2"},
    SCase{"(0.0 / 0.0) | 0", "Integer -2147483648"}, SCase{"3000000000.0 | 0", "Integer -2147483648"},
    SCase{"(0 - 3000000000.0) | 0", "Integer -2147483648"}, SCase{"(1.0 / 0) | 0", "Integer -2147483648"},
    SCase{"\"12abc\" | 0", "Integer 12"}, SCase{"\"12abc\" + 0.0", "Float 12"}, SCase{"\"1.5\" + 0.0", "Float 1.5"},
    SCase{"\"1.5\" || false", "Boolean false"}, SCase{"\"true\" || false", "Boolean true"},
    SCase{"(0.0 / 0.0) || false", "Boolean false"}), CaseName);

TEST(ValueReference, ChainsOfSixteenHopsResolveLongerOnesAndLoopsReadInvalid) {
  TlxSprigValue target = MakeInvalidValue(), chain[17];
  SetInteger(target, 9);
  for (int i = 0; i < 17; ++i) {
    chain[i].kind = kSprigReference;
    chain[i].payload = reinterpret_cast<uintptr_t>(i == 0 ? &target : &chain[i - 1]);
  }
  EXPECT_EQ(AsInteger(chain[15]), 9);             // 16 hops
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
  Assign(variable, variable);  // self-assignment keeps the text
  MakeReference(variable, &variable);  // never a Reference to itself
  EXPECT_STREQ(TextOf(variable), "text");
  Release(source);
  char hostText[] = "host";  // a String from outside the allocator is measured
  source.kind = kSprigString;
  source.payload = reinterpret_cast<uintptr_t>(hostText);
  Assign(variable, source);
  EXPECT_STREQ(TextOf(variable), "host");
  source.payload = 0;  // a null text is the empty String
  Assign(variable, source);
  EXPECT_STREQ(TextOf(variable), "");
  Release(variable);
}

}  // namespace
