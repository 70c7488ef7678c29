// Script values: kind promotion and the result of every operation, conversions, References.
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;

struct Case {
  const char* text;
  const char* expected;
};

class OperationTest : public SprigFixture, public testing::WithParamInterface<Case> {};

TEST_P(OperationTest, GivesKindAndValue) {
  EXPECT_EQ(Run(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Promotion, OperationTest, testing::Values(
    Case{"\"10\" + 5", "Integer 15"}, Case{"\"abc\" + 1", "Integer 1"},
    Case{"\"abc\" + \"def\"", "String abcdef"}, Case{"\"abc\" + true", "String abctrue"},
    Case{"1 + 2.5", "Float 3.5"}, Case{"true + 2", "Integer 3"}, Case{"2.0 == 2", "Boolean true"},
    Case{"3 > 2.5", "Boolean true"}, Case{"{Nope} + {Nope}", "Boolean false"},
    Case{"{Nope} + \"s\"", "String s"}));

INSTANTIATE_TEST_SUITE_P(Arithmetic, OperationTest, testing::Values(
    Case{"true + false", "Boolean true"}, Case{"true - true", "Boolean false"},
    Case{"true - false", "Boolean true"}, Case{"true * false", "Boolean false"},
    Case{"\"banana\" - \"an\"", "String ba"}, Case{"\"aaa\" - \"aa\"", "String a"},
    Case{"\"abc\" * \"def\"", "Invalid"}, Case{"\"abc\" / \"def\"", "Invalid"},
    Case{"\"abc\" % \"def\"", "Invalid"}, Case{"\"x\" * true", "Boolean false"},
    Case{"\"true\" * true", "Boolean true"}, Case{"7 / 2", "Integer 3"}, Case{"-7 / 2", "Integer -3"},
    Case{"(0 - 7) / 2", "Integer -3"}, Case{"(0 - 7) % 2", "Integer -1"}, Case{"-7 % 2", "Integer -1"},
    Case{"7.0 / 2", "Float 3.5"}, Case{"7.5 % 2", "Float 1.5"}, Case{"(0 - 7.5) % 2", "Float -1.5"},
    Case{"5.0 / 0", "Float inf"}, Case{"2147483647 + 1", "Integer -2147483648"},
    Case{"65536 * 65536", "Integer 0"}));

// Integer division by zero, the one overflowing quotient, and shift counts.
INSTANTIATE_TEST_SUITE_P(IntegerEdges, OperationTest, testing::Values(
    Case{"5 / 0", "Invalid"}, Case{"5 % 0", "Invalid"},
    Case{"(0 - 2147483647 - 1) / (0 - 1)", "Integer -2147483648"},
    Case{"(0 - 2147483647 - 1) % (0 - 1)", "Integer 0"}, Case{"1 << 33", "Integer 2"},
    Case{"1 << 32", "Integer 1"}, Case{"1 << (0 - 1)", "Integer -2147483648"},
    Case{"(0 - 8) >> 1", "Integer -4"}, Case{"(0 - 1) >> 40", "Integer -1"}, Case{"6 & 3", "Integer 2"},
    Case{"6 | 3", "Integer 7"}, Case{"6 ^ 3", "Integer 5"},
    Case{"2.9 | 0", "Integer 2"}));

INSTANTIATE_TEST_SUITE_P(Comparison, OperationTest, testing::Values(
    Case{"0.1 + 0.2 == 0.3", "Boolean true"}, Case{"1.0 == 1.0000001", "Boolean true"},
    Case{"1.0 != 1.1", "Boolean true"}, Case{"\"10\" == 10", "Boolean true"},
    Case{"\"true\" == true", "Boolean true"}, Case{"\"True\" == true", "Boolean false"},
    Case{"\"abc\" == false", "Boolean true"}, Case{"\"abc\" == \"abc\"", "Boolean true"},
    Case{"\"abc\" != \"abd\"", "Boolean true"}, Case{"\"b\" < \"aa\"", "Boolean true"},
    Case{"\"abc\" < \"xyz\"", "Boolean false"}, Case{"\"aa\" > \"b\"", "Boolean true"},
    Case{"\"ab\" <= \"ba\"", "Boolean true"}, Case{"true > false", "Boolean true"},
    Case{"(0.0 / 0.0) < 1", "Boolean true"}, Case{"(0.0 / 0.0) <= 1", "Boolean true"},
    Case{"(0.0 / 0.0) > 1", "Boolean false"}, Case{"(0.0 / 0.0) >= 1", "Boolean false"},
    Case{"(0.0 / 0.0) == (0.0 / 0.0)", "Boolean false"}, Case{"1 && \"true\"", "Boolean true"},
    Case{"0 || 0.0", "Boolean false"}));

INSTANTIATE_TEST_SUITE_P(Unary, OperationTest, testing::Values(
    Case{"!0.0", "Boolean true"}, Case{"!2.5", "Boolean false"}, Case{"!0", "Boolean true"},
    Case{"!\"x\"", "Invalid"}, Case{"!{Nope}", "Boolean true"}, Case{"-{Nope}", "Integer 0"},
    Case{"-\"x\"", "Invalid"}, Case{"-true", "Boolean false"}, Case{"-2.5", "Float -2.5"},
    Case{"~5", "Integer -6"}, Case{"~true", "Boolean false"}, Case{"~2.5", "Float -3"},
    Case{"~{Nope}", "Integer -1"},
    Case{"~\"x\"", "Invalid"}));

TEST(ValueConversion, AsStringTexts) {
  TlxSprigValue value = MakeInvalidValue();
  Bravik::CMutableString text;
  const auto textOf = [&](const TlxSprigValue& v) {
    AsString(v, text);
    return std::string(static_cast<const char*>(text.GetData()));
  };
  SetFloat(value, 2.0f);
  EXPECT_EQ(textOf(value), "2.0");
  SetFloat(value, 0.1f);
  EXPECT_EQ(textOf(value).rfind("0.1000000014", 0), 0u) << textOf(value);
  SetInteger(value, -5);
  EXPECT_EQ(textOf(value), "-5");
  SetBoolean(value, false);
  EXPECT_EQ(textOf(value), "false");
  SetInvalid(value);
  EXPECT_EQ(textOf(value), "");
  SetString(value, "héllo");
  EXPECT_EQ(textOf(value), "héllo");
  Release(value);
}

TEST(ValueConversion, AsIntegerTruncatesAndMarksOutOfRange) {
  TlxSprigValue value = MakeInvalidValue();
  const struct { float input; int32_t expected; } rows[] = {
      {-2.7f, -2}, {2.7f, 2}, {std::numeric_limits<float>::quiet_NaN(), INT32_MIN}, {3e9f, INT32_MIN},
      {-3e9f, INT32_MIN}, {std::numeric_limits<float>::infinity(), INT32_MIN}, {-2147483648.0f, INT32_MIN}};
  for (const auto& row : rows) {
    SetFloat(value, row.input);
    EXPECT_EQ(AsInteger(value), row.expected) << row.input;
  }
  SetString(value, "12abc");
  EXPECT_EQ(AsInteger(value), 12);
  EXPECT_FLOAT_EQ(AsFloat(value), 12.0f);
  SetString(value, "1.5");
  EXPECT_FLOAT_EQ(AsFloat(value), 1.5f);
  EXPECT_FALSE(AsBoolean(value));
  SetString(value, "true");
  EXPECT_TRUE(AsBoolean(value));
  SetFloat(value, std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(AsBoolean(value));
  Release(value);
}

TEST(ValueReference, ChainsOfSixteenHopsResolveLongerOnesReadInvalid) {
  TlxSprigValue target = MakeInvalidValue();
  SetInteger(target, 9);
  TlxSprigValue chain[17];
  for (int i = 0; i < 17; ++i) {
    chain[i].kind = kSprigReference;
    chain[i].payload = reinterpret_cast<uintptr_t>(i == 0 ? &target : &chain[i - 1]);
  }
  EXPECT_EQ(AsInteger(chain[15]), 9);  // 16 hops
  EXPECT_EQ(KindOf(chain[16]), kSprigInvalid);  // 17 hops
  SetInteger(chain[16], 1);  // a write through a broken chain is dropped
  EXPECT_EQ(AsInteger(target), 9);
  SetString(chain[16], "dropped");  // and frees what it would have written
}

TEST(ValueReference, LoopsReadInvalid) {
  TlxSprigValue a{}, b{};
  a.kind = b.kind = kSprigReference;
  a.payload = reinterpret_cast<uintptr_t>(&b);
  b.payload = reinterpret_cast<uintptr_t>(&a);
  EXPECT_EQ(KindOf(a), kSprigInvalid);
  EXPECT_FALSE(AsBoolean(a));
  TlxSprigValue copy = MakeInvalidValue();
  Assign(copy, a);
  EXPECT_EQ(copy.kind, kSprigInvalid);
}

TEST(ValueReference, AssignThroughReferenceCopiesText) {
  TlxSprigValue variable = MakeInvalidValue();
  TlxSprigValue reference = MakeInvalidValue();
  TlxSprigValue source = MakeInvalidValue();
  SetInteger(variable, 1);
  MakeReference(reference, &variable);
  SetString(source, "text");
  Assign(reference, source);
  ASSERT_EQ(variable.kind, kSprigString);
  EXPECT_STREQ(TextOf(variable), "text");
  EXPECT_NE(TextOf(variable), TextOf(source));
  EXPECT_EQ(reference.kind, kSprigReference);
  Assign(variable, variable);  // self-assignment keeps the text
  EXPECT_STREQ(TextOf(variable), "text");
  MakeReference(variable, &variable);  // never a Reference to itself
  EXPECT_EQ(variable.kind, kSprigString);
  Release(variable);
  Release(source);
}

TEST(ValueReference, HostStringOutsideTheAllocatorIsMeasured) {
  char hostText[] = "host";
  TlxSprigValue host{};
  host.kind = kSprigString;
  host.payload = reinterpret_cast<uintptr_t>(hostText);
  TlxSprigValue copy = MakeInvalidValue();
  Assign(copy, host);
  EXPECT_STREQ(TextOf(copy), "host");
  host.payload = 0;  // a null text is the empty String
  Assign(copy, host);
  EXPECT_STREQ(TextOf(copy), "");
  Release(copy);
}

TEST(ValueStep, IncrementAndDecrementInPlace) {
  TlxSprigValue value = MakeInvalidValue();
  SetBoolean(value, false);
  Increment(value);
  EXPECT_TRUE(AsBoolean(value));
  Decrement(value);
  EXPECT_FALSE(AsBoolean(value));
  SetInteger(value, INT32_MAX);
  Increment(value);
  EXPECT_EQ(AsInteger(value), INT32_MIN);
  SetFloat(value, 1.5f);
  Decrement(value);
  EXPECT_FLOAT_EQ(AsFloat(value), 0.5f);
  SetString(value, "s");
  Increment(value);
  EXPECT_STREQ(TextOf(value), "s");
  Release(value);
}

}  // namespace
