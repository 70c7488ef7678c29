#include "foundation/string/NumberText.h"

#include <gtest/gtest.h>

#include <algorithm>
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

constexpr float kInfF = std::numeric_limits<float>::infinity();

TEST(NumberText, IntegersInDecimalAndUpperCaseHexadecimal) {
  EXPECT_EQ(Text(&Bravik::UnsignedToAscii, uint64_t{0}), "0");
  EXPECT_EQ(Text(&Bravik::UnsignedToAscii, UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(Text(&Bravik::SignedToAscii, int64_t{-42}), "-42");
  EXPECT_EQ(Text(&Bravik::SignedToAscii, INT64_MIN), "-9223372036854775808");  // no positive twin
  EXPECT_EQ(Text(&Bravik::HexToAscii, uint64_t{0}), "0x0");
  EXPECT_EQ(Text(&Bravik::HexToAscii, uint64_t{0xABCDEF}), "0xABCDEF");
  EXPECT_EQ(Text(&Bravik::HexToAscii, UINT64_MAX), "0xFFFFFFFFFFFFFFFF");
}

// Fraction digits are truncated, never rounded, and computed in the value's own precision.
TEST(NumberText, Floats) {
  const struct { float value; const char* text; } cases[] = {
      {1.5f, "1.5"}, {2.0f, "2.0"}, {-3.75f, "-3.75"}, {0.1f, "0.1"}, {0.3f, "0.3"}, {0.7f, "0.7"}, {-0.0f, "0.0"},
      {3.14159265f, "3.141592"}, {123.456f, "123.456001"}, {8388607.5f, "8388607.5"}, {0.99999994f, "0.999999"},
      // Fractions not above 1e-6 print as "0"; a value in (-1, 0) keeps its sign.
      {1e-7f, "0.0"}, {-1e-7f, "-0.0"}, {1e-6f, "0.0"}, {1.1e-6f, "0.000001"},
      {kInfF, "Inf"}, {-kInfF, "-Inf"}, {std::numeric_limits<float>::quiet_NaN(), "NaN"},
      // Integer parts beyond 64 bits are exact.
      {1e19f, "9999999980506447872.0"}, {-9223372036854775808.0f, "-9223372036854775808.0"},
      {FLT_MAX, "340282346638528859811704183484516925440.0"},
      // Float rounding in the fraction loop decides the last digit (double would give 0.025635,
      // 0.080678, 0.138191).
      {0.0256359987f, "0.025636"}, {0.080678001f, "0.080677"}, {0.138191983f, "0.138192"},
      {0.0255769975f, "0.0255769"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(&Bravik::FloatToAscii, c.value), c.text) << c.value;
}

TEST(NumberText, Doubles) {
  const struct { double value; const char* text; } cases[] = {
      {0.1, "0.1"}, {-3.75, "-3.75"}, {3.141592653589793, "3.141592653589793"},
      {123456.789, "123456.789000000004307"}, {4503599627370495.5, "4503599627370495.5"},
      {1e-16, "0.0"}, {-1e-16, "-0.0"}, {0.12345678901234568, "0.123456789012345"},
      {-static_cast<double>(kInfF), "-Inf"}, {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {1e19, "10000000000000000000.0"}, {std::ldexp(1.0, 100), "1267650600228229401496703205376.0"},
      {static_cast<double>(0.1f), "0.100000001490116"},  // a widened float gets the double limits
  };
  for (const auto& c : cases) EXPECT_EQ(Text(&Bravik::DoubleToAscii, c.value), c.text) << c.value;
  const std::string max =
      "1797693134862315708145274237317043567980705675258449965989174768031572607800285387605895"
      "5863276687817154045895351438246423432132688946418276846754670353751698604991057655128207"
      "6245490090389328944075868508455133942304583236903222948165808559332123348274797826204144"
      "723168738177180919299881250404026184124858368.0";
  EXPECT_EQ(Text(&Bravik::DoubleToAscii, -DBL_MAX), "-" + max);
}

// One unit per character in each encoding (codes other than 0 and 1 are UTF-32); a null buffer
// gets nothing, and doubles too long for the 256-byte buffer write nothing rather than overrun.
TEST(NumberText, WritesUnitsOfTheEncodingAndNeverPastTheBuffer) {
  std::vector<unsigned char> buffer(kNumberTextBufferSize + 64, 0xAB);
  char16_t units16[4];
  char32_t units32[4];
  EXPECT_EQ(Bravik::SignedToText(-42, buffer.data(), 1), 6u);
  std::memcpy(units16, buffer.data(), sizeof units16);
  EXPECT_EQ(std::u16string(units16, 4), std::u16string(u"-42\0", 4));
  EXPECT_EQ(Bravik::FloatToText(1.5f, buffer.data(), 2), 12u);
  std::memcpy(units32, buffer.data(), sizeof units32);
  EXPECT_EQ(std::u32string(units32, 4), std::u32string(U"1.5\0", 4));
  EXPECT_EQ(Bravik::UnsignedToText(7, buffer.data(), 9), 4u);
  EXPECT_EQ(Bravik::HexToText(255, buffer.data(), 0), 4u);
  EXPECT_EQ(Bravik::UnsignedToText(1, nullptr, 0) + Bravik::SignedToText(-1, nullptr, 1) +
                Bravik::HexToText(1, nullptr, 2) + Bravik::FloatToText(1.0f, nullptr, 0) +
                Bravik::DoubleToText(1.0, nullptr, 0),
            0u);
  std::fill(buffer.begin(), buffer.end(), 0xAB);
  EXPECT_EQ(Bravik::DoubleToText(1e62, buffer.data(), 1), 65u * 2);  // 65 characters
  EXPECT_EQ(Bravik::DoubleToText(1e62, buffer.data(), 2), 0u);       // 66 units: 264 bytes
  EXPECT_EQ(Bravik::DoubleToText(1e61, buffer.data(), 2), 63u * 4);  // 64 units: 256 bytes
  EXPECT_EQ(Bravik::DoubleToText(DBL_MAX, buffer.data(), 0), 0u);
  for (size_t i = kNumberTextBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
}

}  // namespace
