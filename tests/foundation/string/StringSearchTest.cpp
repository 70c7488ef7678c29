// String algorithms: comparison, search, cutting, replacing, edit distance, number parsing and
// the name hash. Each table runs in all three encodings.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/string/String.h"

using namespace Bravik;

namespace {

constexpr StringEncoding kEncodings[] = {kUtf8, kUtf16, kUtf32};

// UTF-8 test text in `encoding` (null stays null).
CMutableString In(const char* utf8, StringEncoding encoding) {
  CMutableString s;
  s.Assign(utf8, kUtf8, encoding);
  return s;
}

// The UTF-8 form of a result, for comparison.
std::string Utf8Of(const IString& s) {
  if (s.IsNull()) return "<null>";
  std::vector<char> out(s.GetSizeIn(kUtf8));
  Convert(s, kUtf8, out.data());
  return std::string(out.data());
}

TEST(StringSearch, EqualsStartsWithEndsWithAcrossEncodings) {
  const struct { const char* a; const char* b; bool equals, startsWith, endsWith; } cases[] = {
      {"abc", "abc", true, true, true},   {"abc", "ab", false, true, false},  {"abc", "bc", false, false, true},
      {"ab", "abc", false, false, false}, {"abc", "", false, false, false},  // an empty b never starts or ends
      {"", "", true, false, false},       {nullptr, "", true, false, false},  // null is empty
      {"h\xC3\xA9llo", "h\xC3\xA9", false, true, false}, {"x\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false, false, true},
      {"abc", "abd", false, false, false},
  };
  for (const auto& c : cases) {
    for (StringEncoding encoding : kEncodings) {
      const CMutableString a = In(c.a, encoding), b = In(c.b, encoding), other = In(c.b, (encoding + 1) % 3);
      SCOPED_TRACE(Utf8Of(a) + " / " + Utf8Of(b) + " in " + std::to_string(encoding));
      EXPECT_EQ(Equals(a, b), c.equals);
      EXPECT_EQ(NotEquals(a, b), !c.equals);
      EXPECT_EQ(StartsWith(a, b), c.startsWith);
      EXPECT_EQ(EndsWith(a, b), c.endsWith);
      EXPECT_EQ(Equals(a, other), c.equals) << "across encodings the code points decide";
      EXPECT_EQ(StartsWith(a, other), c.startsWith) << "across";
    }
  }
}

TEST(StringSearch, FirstAndLastOccurrence) {
  const struct { const char* text; const char* pattern; uint64_t start, first, last; } cases[] = {
      {"aab", "ab", 0, 1, 1},  // the partial match at 0 must not hide the one at 1
      {"abcabc", "bc", 0, 1, 4}, {"abcabc", "bc", 2, 4, 4}, {"aaa", "aa", 0, 0, 1},
      {"abcabc", "bc", 5, kNotFound, kNotFound}, {"abc", "abcd", 0, kNotFound, kNotFound},
      {"abc", "", 0, kNotFound, kNotFound},   // empty pattern: no match
      {"abc", "c", 99, kNotFound, kNotFound},  // start past the end
      {nullptr, "a", 0, kNotFound, kNotFound}, {"abc", nullptr, 0, kNotFound, kNotFound},
      {"\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", "\xC3\xA9t", 0, 0, 4},
      {"a\xF0\x9F\x98\x80" "b\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", 0, 1, 3},
  };
  for (const auto& c : cases) {
    for (StringEncoding encoding : kEncodings) {
      const CMutableString text = In(c.text, encoding), pattern = In(c.pattern, encoding);
      SCOPED_TRACE(Utf8Of(text) + " / " + Utf8Of(pattern) + " from " + std::to_string(c.start));
      EXPECT_EQ(Find(text, pattern, c.start), c.first) << encoding;
      EXPECT_EQ(FindLast(text, pattern, c.start), c.last) << encoding;
    }
  }
}

TEST(StringSearch, SubstringClampsToTheText) {
  const struct { const char* text; uint64_t start, end; const char* expected; } cases[] = {
      {"h\xC3\xA9llo", 1, 3, "\xC3\xA9l"}, {"hello", 2, 2, ""}, {"hello", 2, 99, "llo"},
      {"hello", 7, 9, ""}, {"hello", 3, 1, ""}, {"a\xF0\x9F\x98\x80z", 1, 2, "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    for (StringEncoding encoding : kEncodings) {
      const CMutableString cut = Substring(In(c.text, encoding), c.start, c.end);
      EXPECT_EQ(cut.GetEncoding(), encoding);
      EXPECT_EQ(Utf8Of(cut), c.expected) << c.text << " " << c.start << ".." << c.end;
      EXPECT_EQ(cut.GetLength(), CString(cut.GetData(), encoding).GetLength());
      EXPECT_EQ(cut.GetSize(), CString(cut.GetData(), encoding).GetSize());
    }
  }
  EXPECT_TRUE(Substring(CString(nullptr, kUtf16), 0, 3).IsNull());
}

TEST(StringSearch, ReplaceIsNonOverlappingLeftToRight) {
  const struct {
    const char* text; const char* pattern; const char* replacement; uint64_t start; const char* expected;
  } cases[] = {
      {"aaa", "aa", "b", 0, "ba"}, {"a-b-c", "-", "::", 0, "a::b::c"}, {"a-b-c", "-", nullptr, 0, "abc"},
      {"a-b-c", "-", "+", 2, "a-b+c"}, {"a-b-c", "-", "+", 99, "a-b-c"},
      {"abc", "", "x", 0, "abc"}, {"abc", "z", "x", 0, "abc"},  // empty or absent pattern: a copy
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9", "\xF0\x9F\x98\x80", 0, "\xF0\x9F\x98\x80t\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    for (StringEncoding encoding : kEncodings) {
      const CMutableString text = In(c.text, encoding);
      const CMutableString result = Replace(text, In(c.pattern, encoding), In(c.replacement, encoding), c.start);
      EXPECT_EQ(result.GetEncoding(), encoding);
      EXPECT_EQ(Utf8Of(result), c.expected) << c.text << " in " << encoding;
      EXPECT_EQ(result.GetSize(), CString(result.GetData(), encoding).GetSize());
      // A replacement in another encoding is converted into the text's.
      const CMutableString mixed = Replace(text, In(c.pattern, encoding), In(c.replacement, (encoding + 2) % 3), c.start);
      EXPECT_EQ(Utf8Of(mixed), c.expected) << c.text << " mixed " << encoding;
    }
  }
  EXPECT_TRUE(Replace(CString(nullptr, kUtf8), CString("a"), CString("b")).IsNull());
}

TEST(StringSearch, LevenshteinDistance) {
  const struct { const char* a; const char* b; uint64_t distance; } cases[] = {
      {"kitten", "sitting", 3}, {"flaw", "lawn", 2}, {nullptr, "ab", 2}, {"same", "same", 0},
      {"ab", "ba", 2}, {"\xC3\xA9t\xC3\xA9", "ete", 2}, {"a\xF0\x9F\x98\x80", "a", 1},
  };
  for (const auto& c : cases) {
    for (StringEncoding encoding : kEncodings) {
      const CMutableString a = In(c.a, encoding), b = In(c.b, encoding);
      EXPECT_EQ(Distance(a, b), c.distance) << (c.a ? c.a : "<null>") << " / " << c.b;
      EXPECT_EQ(Distance(b, a), c.distance);
    }
  }
}

TEST(StringSearch, NumbersParseTheirLeadingDigits) {
  const struct { const char* text; bool swapped; uint64_t unsignedValue; int64_t integerValue; } cases[] = {
      {"0x1F", false, 31, 31}, {"x1F", false, 31, 31}, {"12ab", false, 12, 12}, {"-42", false, 42, -42},
      {"0x-ff", false, 255, 255}, {"18446744073709551615", false, UINT64_MAX, -1}, {"0xAbCd", false, 0xABCD, 0xABCD},
      {"x3412", true, 0x1234, 0x1234}, {"x341", true, 0x1034, 0x1034}, {nullptr, false, 0, 0}, {" 5", false, 0, 0},
  };
  const struct { const char* text; double value; } reals[] = {
      {"3,25", 3.25}, {"-0.5", -0.5}, {"1.5.7", 1.5}, {"2.5e3", 2.5}, {"", 0.0}, {".75", 0.75}, {"1-2", 12.0},
      {"0.1-", 0.1}, {"1.00000000000000000000000001", 1.0},
  };
  for (StringEncoding encoding : kEncodings) {
    for (const auto& c : cases) {
      const CMutableString text = In(c.text, encoding);
      EXPECT_EQ(ToUnsigned(text, c.swapped), c.unsignedValue) << (c.text ? c.text : "<null>");
      EXPECT_EQ(ToInteger(text, c.swapped), c.integerValue) << (c.text ? c.text : "<null>");
    }
    for (const auto& c : reals) EXPECT_DOUBLE_EQ(ToFloat(In(c.text, encoding)), c.value) << c.text;
  }
  EXPECT_TRUE(std::signbit(ToFloat(CString("-0"))));
}

// Values are checked against zlib (StringDifferentialTest); here null, and pieces across the
// multi-lane blocks chaining to the whole's value.
TEST(StringSearch, HashOfNullAndHashesChainedAcrossPieces) {
  EXPECT_EQ(CalculateHash(CString(nullptr, kUtf8)), 0u);
  std::string text;
  for (int i = 0; i < 3000; ++i) text.push_back(static_cast<char>('a' + i * 7 % 26));
  const uint32_t whole = UpdateHash(kHashSeed, text.data(), text.size());
  uint32_t bytewise = kHashSeed;
  for (char c : text) bytewise = UpdateHash(bytewise, &c, 1);
  EXPECT_EQ(whole, bytewise);
  for (size_t cut : {size_t{7}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{2999}}) {
    EXPECT_EQ(UpdateHash(UpdateHash(kHashSeed, text.data(), cut), text.data() + cut, text.size() - cut), whole) << cut;
  }
}

}  // namespace
