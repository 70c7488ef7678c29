#include "foundation/string/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bravik::kNumberAsciiCapacity;
using Bravik::kNumberTextBufferSize;

// The text of `value`; the returned length must match what was written.
template <typename T>
std::string Text(size_t (*toAscii)(T, char*), T value) {
  char text[kNumberAsciiCapacity];
  const size_t length = toAscii(value, text);
  EXPECT_EQ(length, std::strlen(text));
  return text;
}
std::string FloatText(float value) { return Text(&Bravik::FloatToAscii, value); }
std::string DoubleText(double value) { return Text(&Bravik::DoubleToAscii, value); }

constexpr float kInfF = std::numeric_limits<float>::infinity();

TEST(IntegerText, DecimalAndHexadecimal) {
  const struct { uint64_t value; const char* text; } unsignedCases[] = {
      {0, "0"}, {7, "7"}, {10, "10"}, {1234567890, "1234567890"}, {UINT64_MAX, "18446744073709551615"}};
  for (const auto& c : unsignedCases) EXPECT_EQ(Text(&Bravik::UnsignedToAscii, c.value), c.text);
  // The smallest signed value has no positive counterpart.
  const struct { int64_t value; const char* text; } signedCases[] = {
      {0, "0"}, {-42, "-42"}, {42, "42"}, {INT64_MAX, "9223372036854775807"},
      {INT64_MIN, "-9223372036854775808"}};
  for (const auto& c : signedCases) EXPECT_EQ(Text(&Bravik::SignedToAscii, c.value), c.text);
  // Upper case, no leading zeros.
  const struct { uint64_t value; const char* text; } hexCases[] = {
      {0, "0x0"}, {255, "0xFF"}, {0x10, "0x10"}, {0xABCDEF, "0xABCDEF"}, {UINT64_MAX, "0xFFFFFFFFFFFFFFFF"}};
  for (const auto& c : hexCases) EXPECT_EQ(Text(&Bravik::HexToAscii, c.value), c.text);
}

// Floating point: truncated fraction digits, computed in the value's own precision.
TEST(RealText, FloatExamples) {
  const struct { float value; const char* text; } cases[] = {
      {1.5f, "1.5"}, {2.0f, "2.0"}, {0.25f, "0.25"}, {-3.75f, "-3.75"}, {0.1f, "0.1"},
      {1.0f, "1.0"}, {-0.5f, "-0.5"}, {0.3f, "0.3"}, {0.7f, "0.7"}, {0.0f, "0.0"}, {-0.0f, "0.0"},
      // Digits are truncated, never rounded; seven fraction digits at most.
      {3.14159265f, "3.141592"}, {123.456f, "123.456001"}, {8388607.5f, "8388607.5"},
      {0.99999994f, "0.999999"},
      // Fractions not above 1e-6 print as "0"; a value in (-1, 0) keeps its sign.
      {1e-7f, "0.0"}, {-1e-7f, "-0.0"}, {1e-6f, "0.0"}, {1.1e-6f, "0.000001"},
      {kInfF, "Inf"}, {-kInfF, "-Inf"}, {std::numeric_limits<float>::quiet_NaN(), "NaN"},
      // Integer parts beyond 64 bits are exact.
      {1e19f, "9999999980506447872.0"}, {-1e19f, "-9999999980506447872.0"},
      {9223372036854775808.0f, "9223372036854775808.0"}, {-9223372036854775808.0f, "-9223372036854775808.0"},
      {FLT_MAX, "340282346638528859811704183484516925440.0"},
      // The fraction loop rounds in float, which decides the last digit here (double arithmetic
      // would give 0.025635, 0.080678, 0.138191).
      {0.0256359987f, "0.025636"}, {0.080678001f, "0.080677"}, {0.138191983f, "0.138192"},
      {0.0255769975f, "0.0255769"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatText(c.value), c.text) << c.value;
}

TEST(RealText, DoubleExamples) {
  const struct { double value; const char* text; } cases[] = {
      {1.5, "1.5"}, {2.0, "2.0"}, {0.1, "0.1"}, {0.3, "0.3"}, {-0.5, "-0.5"},
      {-3.75, "-3.75"}, {3.141592653589793, "3.141592653589793"},
      {123456.789, "123456.789000000004307"}, {4503599627370495.5, "4503599627370495.5"},
      {1e-16, "0.0"}, {-1e-16, "-0.0"}, {0.12345678901234568, "0.123456789012345"},
      {static_cast<double>(kInfF), "Inf"}, {-static_cast<double>(kInfF), "-Inf"},
      {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {1e19, "10000000000000000000.0"}, {-9223372036854775808.0, "-9223372036854775808.0"},
      {std::ldexp(1.0, 100), "1267650600228229401496703205376.0"},
      {static_cast<double>(0.1f), "0.100000001490116"},  // a widened float gets the double limits
  };
  for (const auto& c : cases) EXPECT_EQ(DoubleText(c.value), c.text) << c.value;
  const std::string max =
      "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895"
      "5863276687817154045895351438246423432132688946418276846754670353751698604991057655128207"
      "6245490090389328944075868508455133942304583236903222948165808559332123348274797826204144"
      "723168738177180919299881250404026184124858368.0";
  EXPECT_EQ(DoubleText(DBL_MAX), max);
  EXPECT_EQ(DoubleText(-DBL_MAX), "-" + max);
}

// Output encodings and the caller buffer.
TEST(NumberTextOutput, WritesOneUnitPerCharacterInEachEncoding) {
  unsigned char buffer[kNumberTextBufferSize];
  EXPECT_EQ(Bravik::HexToText(255, buffer, 0), 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "0xFF");
  EXPECT_EQ(Bravik::SignedToText(-42, buffer, 1), 6u);
  char16_t units16[4];
  std::memcpy(units16, buffer, sizeof units16);
  EXPECT_EQ(std::u16string(units16, 4), std::u16string(u"-42\0", 4));
  EXPECT_EQ(Bravik::FloatToText(1.5f, buffer, 2), 12u);
  char32_t units32[4];
  std::memcpy(units32, buffer, sizeof units32);
  EXPECT_EQ(std::u32string(units32, 4), std::u32string(U"1.5\0", 4));
  EXPECT_EQ(Bravik::UnsignedToText(7, buffer, 9), 4u);  // codes other than 0 and 1 are UTF-32
  EXPECT_EQ(Bravik::DoubleToText(0.25, buffer, 1), 8u);
}

// A null buffer gets nothing; only huge doubles can outgrow the 256-byte buffer, and they write
// nothing rather than overrun.
TEST(NumberTextOutput, NeverWritesPastTheBuffer) {
  EXPECT_EQ(Bravik::UnsignedToText(1, nullptr, 0), 0u);
  EXPECT_EQ(Bravik::SignedToText(-1, nullptr, 1), 0u);
  EXPECT_EQ(Bravik::HexToText(1, nullptr, 2), 0u);
  EXPECT_EQ(Bravik::FloatToText(1.0f, nullptr, 0), 0u);
  EXPECT_EQ(Bravik::DoubleToText(1.0, nullptr, 0), 0u);
  std::vector<unsigned char> buffer(kNumberTextBufferSize + 64, 0xAB);
  EXPECT_EQ(Bravik::DoubleToText(1e62, buffer.data(), 1), 65u * 2);  // 65 characters
  EXPECT_EQ(Bravik::DoubleToText(1e62, buffer.data(), 2), 0u);       // 66 units: 264 bytes
  EXPECT_EQ(Bravik::DoubleToText(1e61, buffer.data(), 2), 63u * 4);  // 64 units: 256 bytes
  EXPECT_EQ(Bravik::DoubleToText(DBL_MAX, buffer.data(), 0), 0u);
  for (size_t i = kNumberTextBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
}

}  // namespace
