#include "foundation/string/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "foundation/memory/Memory.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Bravik::CMutableString;
using Bravik::CString;
using Bravik::IString;

// The result must be in the format's encoding, in one block of exactly its size.
void ExpectExactBlock(const CMutableString& result, Bravik::StringEncoding encoding) {
  EXPECT_EQ(result.GetEncoding(), encoding);
  ASSERT_NE(result.GetData(), nullptr);
  EXPECT_EQ(Bravik::Memory::GetBlockSize(result.GetData()), result.GetSize());
}

// Formats into a fresh result and returns its text, in the format's own character type.
template <typename Char, typename... Args>
std::basic_string<Char> FormatIn(const Char* format, const Args&... args) {
  CMutableString result;
  Bravik::Format(result, CString(format), args...);
  ExpectExactBlock(result, static_cast<Bravik::StringEncoding>(sizeof(Char) == 1 ? 0 : sizeof(Char) / 2));
  const std::basic_string<Char> text =
      result.IsNull() ? std::basic_string<Char>() : static_cast<const Char*>(result.GetData());
  EXPECT_EQ(result.GetSize(), sizeof(Char) * (text.size() + 1));
  return text;
}
template <typename... Args>
std::string Format8(const char* format, const Args&... args) { return FormatIn(format, args...); }
template <typename... Args>
std::u16string Format16(const char16_t* format, const Args&... args) { return FormatIn(format, args...); }
template <typename... Args>
std::u32string Format32(const char32_t* format, const Args&... args) { return FormatIn(format, args...); }

// A recorded name with its hash that counts how often the formatter asks for either.
struct CountingName {
  CString text;
  uint32_t hash;
  mutable int textCalls = 0;
  mutable int hashCalls = 0;

  const IString& Text() const { return ++textCalls, text; }
  uint32_t Hash() const { return ++hashCalls, hash; }
};
static_assert(Bravik::MapableText<CountingName>);
static_assert(!Bravik::MapableText<CString>);

TEST(FormatPlaceholders, Table) {
  const CString ab("ab");
  const struct { const char* format; const char* expected; } cases[] = {
      {"%1%1", "77"},          {"100%%", "100%"},     {"%x%", "%"},
      {"%9", ""},              {"%0", ""},            {"%a", ""},
      {"a%9b%0c%ad", "abcd"},  {"%12", "72"},         {"%2", "-42"},
      {"%x4", "0xFF"},         {"%x2", "0xFFFFFFFFFFFFFFD6"},
      {"%3", "ab"},            {"%%1", "%1"},         {"%xx1", "1"},
      {"%x1%1%x1", "0x770x7"},
      {"%x %1", "7"},          {"[%4|%1]", "[255|7]"},
      // Positions beyond the given arguments are the signed number 0.
      {"%5%x8", "00x0"},
      // A selector is one whole character, however many bytes it takes.
      {"a%\xC3\xA9z", "az"},   {"a%x\xF0\x9F\x98\x80z", "az"},
      // A trailing percent sign outputs nothing.
      {"ab%", "ab"},           {"ab%x", "ab"},        {"%", ""},    {"%x", ""},
      // The walk never steps past the terminator, even from a percent sign or a cut selector.
      {"a%x\0" "1", "a"},      {"%\xF0\0%1", ""},
      {"", ""},                {"plain text \xC3\xA9", "plain text \xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format8(c.format, 7u, int64_t{-42}, ab, uint8_t{255}), c.expected) << c.format;
  }
}

TEST(FormatPlaceholders, WideFormatsCopyTextAndDropTrailingPercent) {
  EXPECT_EQ(Format16(u"plain \U0001F600"), u"plain \U0001F600");
  EXPECT_EQ(Format32(U"plain \U0001F600"), U"plain \U0001F600");
  EXPECT_EQ(Format16(u"ab%x", 1), u"ab");
  EXPECT_EQ(Format32(U"ab%", 1), U"ab");
}

TEST(FormatPlaceholders, NullFormatGivesEmptyText) {
  CMutableString result;
  Bravik::Format(result, CString(nullptr, Bravik::kUtf16), 1);
  ExpectExactBlock(result, Bravik::kUtf16);
  EXPECT_EQ(result.GetSize(), 2u);
  EXPECT_EQ(result.GetLength(), 0u);
}

// Argument kinds: integers of every width (signed ones sign-extended to 64 bits in the hex form).
TEST(FormatArguments, IntegersOfEveryWidth) {
  EXPECT_EQ(Format8("%1 %2 %3 %4", uint8_t{255}, uint16_t{65535}, uint32_t{4294967295u}, UINT64_MAX),
            "255 65535 4294967295 18446744073709551615");
  EXPECT_EQ(Format8("%1 %2 %3 %4", int8_t{-128}, int16_t{-32768}, INT32_MIN, INT64_MIN),
            "-128 -32768 -2147483648 -9223372036854775808");
  EXPECT_EQ(Format8("%x1 %x2 %x3 %x4", uint16_t{0xBEEF}, int64_t{-1}, int32_t{-1}, UINT64_MAX),
            "0xBEEF 0xFFFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF");
}

// Floats are printed in float precision; a huge double outgrows the number buffer.
TEST(FormatArguments, FloatsAndDoubles) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(Format8("%1 %2 %3 %4 %5", 0.1f, 1.0f, -0.5f, 1e19f, -inf), "0.1 1.0 -0.5 9999999980506447872.0 -Inf");
  EXPECT_EQ(Format8("%1 %2", 0.1, -3.75), "0.1 -3.75");
  EXPECT_EQ(Format8("%1", 1e300).size(), 303u);  // exact digits, then ".0"
  // The hexadecimal form of a float, a double or a string prints its ordinary text.
  EXPECT_EQ(Format8("%x1 %x2 %x3", 2.5f, 0.25, CString("s")), "2.5 0.25 s");
}

TEST(FormatArguments, Strings) {
  CMutableString owned("owned", Bravik::kUtf8);
  EXPECT_EQ(Format8("<%1|%2>", CString("view"), owned), "<view|owned>");
  EXPECT_EQ(Format8("<%1|%2|%3>", CString(nullptr, Bravik::kUtf8), CString(""), CMutableString()), "<||>");
  EXPECT_EQ(Format8("<%1>", CString(U"\U00010000\u00FF")), "<\xF0\x90\x80\x80\xC3\xBF>");  // UTF-32
}

TEST(FormatArguments, MapableStringGivesTextAndHash) {
  CountingName name{CString("Speaker"), 0xDEADBEEF};
  EXPECT_EQ(Format8("%1=%x1", name), "Speaker=0xDEADBEEF");
  // In another encoding the text is converted.
  CountingName wide{CString(u"\u00E9t\u00E9"), 1};
  EXPECT_EQ(Format8("%1", wide), "\xC3\xA9t\xC3\xA9");
}

// Each argument is converted at most once per form per call, and only when referenced.
TEST(FormatConversion, EachFormOnceAndOnlyWhenReferenced) {
  CountingName name{CString(u"n"), 0x10};
  EXPECT_EQ(Format8("%1%1%x1%1%x1", name, 3), "nn0x10n0x10");
  EXPECT_EQ(name.textCalls, 1);
  EXPECT_EQ(name.hashCalls, 1);
  EXPECT_EQ(Format8("%2", name, 3), "3");
  EXPECT_EQ(name.textCalls, 1);
  EXPECT_EQ(name.hashCalls, 1);
}

// A UTF-16 argument in a UTF-8 format is converted into a block of its own; a text longer than
// the small-block classes goes to the host, so host allocations show how often it is converted.
TEST(FormatConversion, StringArgumentConvertedOncePerCall) {
  const std::u16string long16(3000, u'w');
  const CString argument(long16.c_str());
  CMutableString warm;
  Bravik::Format(warm, CString("%1"), argument);
  auto hostAllocations = [&](const char* format) {
    const uint64_t before = QuorinTest::Counters().allocateCalls.load();
    CMutableString result;
    Bravik::Format(result, CString(format), argument);
    return QuorinTest::Counters().allocateCalls.load() - before;
  };
  const uint64_t once = hostAllocations("%1");
  EXPECT_EQ(once, 2u);  // the converted argument and the result
  EXPECT_EQ(hostAllocations("%1%1%x1%1"), once);
}

TEST(FormatEncoding, Utf16FormatWithUtf8Arguments) {
  CMutableString result;
  Bravik::Format(result, CString(u"a=%1; b=%2;"), CString("\xC3\xA9\xF0\x9F\x98\x80"), 12u);
  ExpectExactBlock(result, Bravik::kUtf16);
  const std::u16string expected = u"a=\u00E9\U0001F600; b=12;";
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(result.GetData())), expected);
  EXPECT_EQ(result.GetSize(), 2 * (expected.size() + 1));  // surrogate pair and terminator
  EXPECT_EQ(result.GetLength(), expected.size() - 1);
}

TEST(FormatEncoding, EveryArgumentKindInWideFormats) {
  CountingName name{CString("n\xC3\xA9"), 0xAB};
  EXPECT_EQ(Format16(u"%1 %x2 %3 %4 %5 %x5 100%%", -42, 255u, 1.5f, CString(U"\U00010000"), name),
            u"-42 0xFF 1.5 \U00010000 n\u00E9 0xAB 100%");
  EXPECT_EQ(Format32(U"%1 %x2 %3 %4 %5 %x5 %x%", -42, 255u, 0.25, CString(u"\U00010000"), name),
            U"-42 0xFF 0.25 \U00010000 n\u00E9 0xAB %");
}


TEST(FormatResult, ResultMayBeItsOwnArgument) {
  CMutableString text("ab", Bravik::kUtf8);
  Bravik::Format(text, CString("%1-%1"), text);
  EXPECT_STREQ(static_cast<const char*>(text.GetData()), "ab-ab");
  EXPECT_EQ(text.GetSize(), 6u);
}

TEST(FormatResult, AllocationFailureLeavesResultAndLeaksNothing) {
  const std::u16string long16(2000, u'q');
  const CString argument(long16.c_str());
  CMutableString result("before", Bravik::kUtf8);
  int failures = 0;
  for (uint64_t n = 1;; ++n) {
    QuorinTest::AllocatorCounters& counters = QuorinTest::Counters();
    const uint64_t live = Bravik::Memory::GetMemoryStatistics().liveBlocks;
    counters.failAtCall = counters.allocateCalls + counters.reallocateCalls + n;
    try {
      Bravik::Format(result, CString("%1%1"), argument);
      counters.failAtCall = 0;
      break;
    } catch (const std::bad_alloc&) {
      counters.failAtCall = 0;
      ++failures;
      EXPECT_STREQ(static_cast<const char*>(result.GetData()), "before");
      EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().liveBlocks, live);
    }
  }
  EXPECT_GE(failures, 2);  // the conversion and the result
  EXPECT_EQ(result.GetSize(), 2 * 2000u + 1);
}

}  // namespace
