#include "foundation/string/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/memory/Memory.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Bravik::CMutableString;
using Bravik::CString;
using Bravik::IString;

// Formats into a fresh result, which must be in the format's encoding in one block of exactly
// its size, and returns its text in the format's own character type.
template <typename Char, typename... Args>
std::basic_string<Char> Format(const Char* format, const Args&... args) {
  CMutableString result;
  Bravik::Format(result, CString(format), args...);
  EXPECT_EQ(result.GetEncoding(), sizeof(Char) == 1 ? 0u : sizeof(Char) / 2);
  EXPECT_EQ(Bravik::Memory::GetBlockSize(result.GetData()), result.GetSize());
  const std::basic_string<Char> text = static_cast<const Char*>(result.GetData());
  EXPECT_EQ(result.GetSize(), sizeof(Char) * (text.size() + 1));
  return text;
}

// A recorded name with its hash that counts how often the formatter asks for either.
struct CountingName {
  CString text;
  uint32_t hash;
  mutable int textCalls = 0;
  mutable int hashCalls = 0;

  const IString& Text() const { return ++textCalls, text; }
  uint32_t Hash() const { return ++hashCalls, hash; }
};
static_assert(Bravik::MapableText<CountingName> && !Bravik::MapableText<CString>);

TEST(Format, Placeholders) {
  const struct { const char* format; const char* expected; } cases[] = {
      {"%1%1", "77"}, {"100%%", "100%"}, {"%x%", "%"}, {"a%9b%0c%ad", "abcd"}, {"%12", "72"},
      {"%x4", "0xFF"}, {"%x2", "0xFFFFFFFFFFFFFFD6"}, {"%3", "ab"}, {"%%1", "%1"}, {"%xx1", "1"},
      {"%x1%1%x1", "0x770x7"}, {"%x %1", "7"}, {"[%4|%1]", "[255|7]"},
      {"%5%x8", "00x0"},  // positions beyond the given arguments are the signed number 0
      {"a%\xC3\xA9z", "az"}, {"a%x\xF0\x9F\x98\x80z", "az"},  // a selector is one whole character
      {"ab%", "ab"}, {"ab%x", "ab"}, {"%", ""},  // a trailing percent sign outputs nothing
      {"a%x\0" "1", "a"}, {"%\xF0\0%1", ""},     // never a step past the terminator
      {"", ""}, {"plain \xC3\xA9", "plain \xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.format, 7u, int64_t{-42}, CString("ab"), uint8_t{255}), c.expected) << c.format;
  CMutableString result;
  Bravik::Format(result, CString(nullptr, Bravik::kUtf16), 1);  // a null format gives the empty text
  EXPECT_EQ(result.GetSize(), 2u);
}

TEST(Format, ArgumentsOfEveryKind) {
  EXPECT_EQ(Format("%1 %2 %3 %4", uint8_t{255}, uint16_t{65535}, uint32_t{4294967295u}, UINT64_MAX),
            "255 65535 4294967295 18446744073709551615");
  EXPECT_EQ(Format("%1 %2 %3 %4", int8_t{-128}, int16_t{-32768}, INT32_MIN, INT64_MIN),
            "-128 -32768 -2147483648 -9223372036854775808");
  // Signed numbers are sign-extended to 64 bits in the hexadecimal form.
  EXPECT_EQ(Format("%x1 %x2 %x3", uint16_t{0xBEEF}, int32_t{-1}, UINT64_MAX), "0xBEEF 0xFFFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF");
  // Floats print in float precision, doubles in double precision (digits: NumberTextTest).
  EXPECT_EQ(Format("%1 %2", 0.1f, 0.1), "0.1 0.1");
  EXPECT_EQ(Format("%1", 1e300).size(), 303u);
  // The hexadecimal form of a float, a double or a string prints its ordinary text.
  EXPECT_EQ(Format("%x1 %x2 %x3", 2.5f, 0.25, CString("s")), "2.5 0.25 s");
  EXPECT_EQ(Format("<%1|%2|%3|%4>", CString(nullptr, Bravik::kUtf8), CString(""), CMutableString("owned", Bravik::kUtf8),
                   CString(U"\U00010000\u00FF")),
            "<||owned|\xF0\x90\x80\x80\xC3\xBF>");
  CountingName name{CString(u"\u00E9t\u00E9"), 0xDEADBEEF};
  EXPECT_EQ(Format("%1=%x1", name), "\xC3\xA9t\xC3\xA9=0xDEADBEEF");
}

TEST(Format, WideFormatsTakeEveryArgumentKind) {
  CountingName name{CString("n\xC3\xA9"), 0xAB};
  EXPECT_EQ(Format(u"%1 %x2 %3 %4 %5 %x5 100%% \U0001F600%x", -42, 255u, 1.5f, CString("\xF0\x9F\x98\x80"), name),
            u"-42 0xFF 1.5 \U0001F600 n\u00E9 0xAB 100% \U0001F600");
  EXPECT_EQ(Format(U"%1 %x2 %3 %4 %5 %x5 %x%%", -42, 255u, 0.25, CString(u"\U00010000"), name),
            U"-42 0xFF 0.25 \U00010000 n\u00E9 0xAB %");
}

// Each argument is converted at most once per form per call, and only when referenced; a text
// longer than the small blocks goes to the host, so host calls show each conversion.
TEST(Format, EachArgumentIsConvertedOnceAndOnlyWhenReferenced) {
  CountingName name{CString(u"n"), 0x10};
  EXPECT_EQ(Format("%1%1%x1%1%x1", name, 3), "nn0x10n0x10");
  EXPECT_EQ(Format("%2", name, 3), "3");
  EXPECT_EQ(name.textCalls, 1);
  EXPECT_EQ(name.hashCalls, 1);
  const std::u16string long16(3000, u'w');
  const CString argument(long16.c_str());
  auto hostAllocations = [&](const char* format) {
    const uint64_t before = QuorinTest::Counters().allocateCalls.load();
    CMutableString result;
    Bravik::Format(result, CString(format), argument);
    return QuorinTest::Counters().allocateCalls.load() - before;
  };
  hostAllocations("%1");  // warm-up
  EXPECT_EQ(hostAllocations("%1"), 2u);  // the converted argument and the result
  EXPECT_EQ(hostAllocations("%1%1%x1%1"), 2u);
}

TEST(Format, ResultMayBeItsOwnArgumentAndSurvivesFailedAllocations) {
  CMutableString text("ab", Bravik::kUtf8);
  Bravik::Format(text, CString("%1-%1"), text);
  EXPECT_STREQ(static_cast<const char*>(text.GetData()), "ab-ab");
  const std::u16string long16(2000, u'q');
  const uint64_t failures = QuorinTest::ForEachAllocationFailure(
      [&] { Bravik::Format(text, CString("%1%1"), CString(long16.c_str())); },
      [&] { EXPECT_STREQ(static_cast<const char*>(text.GetData()), "ab-ab"); });
  EXPECT_GE(failures, 2u);  // the conversion and the result
  EXPECT_EQ(text.GetSize(), 2 * 2000u + 1);
}

}  // namespace
