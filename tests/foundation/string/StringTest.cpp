// Strings: measuring, the walking rule at a damaged end, code points, conversion, the iterator,
// owning strings (including allocation failure) and piece chains.
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"
#include "foundation/string/NumberText.h"
#include "foundation/string/String.h"
#include "tests/support/CountingAllocator.h"

using namespace Bravik;

namespace {

// Bytes of `s` as written by Convert into a buffer sized by GetSizeIn, with a guard zone that
// must stay untouched.
std::vector<uint8_t> ConvertChecked(const IString& s, StringEncoding target) {
  const uint64_t size = s.GetSizeIn(target);
  std::vector<uint8_t> out(size + 16, 0xA5);
  Convert(s, target, out.data());
  for (size_t i = size; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xA5) << "Convert wrote past GetSizeIn at byte " << i;
  }
  out.resize(size);
  return out;
}

template <typename Unit>
std::vector<uint8_t> Bytes(std::initializer_list<Unit> units) {
  std::vector<uint8_t> out(units.size() * sizeof(Unit));
  std::memcpy(out.data(), units.begin(), out.size());
  return out;
}

}  // namespace

TEST(StringMeasure, LengthAndSizeByEncoding) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: null pointer
    StringEncoding encoding;
    uint64_t length, size;
  } cases[] = {
      {"null utf8", {}, kUtf8, 0, 0},           {"null utf16", {}, kUtf16, 0, 0},
      {"null utf32", {}, kUtf32, 0, 0},         {"empty utf8", {0}, kUtf8, 0, 1},
      {"empty utf16", {0, 0}, kUtf16, 0, 2},    {"empty utf32", {0, 0, 0, 0}, kUtf32, 0, 4},
      {"ascii", {'a', 'b', 'c', 0}, kUtf8, 3, 4},
      {"euro utf8", {0xE2, 0x82, 0xAC, 'x', 0}, kUtf8, 2, 5},
      {"emoji utf8", {0xF0, 0x9F, 0x98, 0x80, 0}, kUtf8, 1, 5},
      {"pair utf16", Bytes<char16_t>({0xD83D, 0xDE00, 0}), kUtf16, 1, 6},
      {"bmp utf16", Bytes<char16_t>({'a', 0xFFFF, 0}), kUtf16, 2, 6},
      {"utf32", Bytes<char32_t>({0x10FFFF, 'a', 0}), kUtf32, 2, 12},
      {"code 7 is utf32", Bytes<char32_t>({'a', 'b', 0}), 7, 2, 12},
      {"stray continuation", {'a', 0x80, 'b', 0}, kUtf8, 3, 4},
  };
  for (const auto& c : cases) {
    const CString s(c.bytes.empty() ? nullptr : c.bytes.data(), c.encoding);
    EXPECT_EQ(s.GetLength(), c.length) << c.name;
    EXPECT_EQ(s.GetSize(), c.size) << c.name;
    EXPECT_EQ(s.GetSizeIn(c.encoding), c.size) << c.name;
    const CMutableString copy(s);
    EXPECT_EQ(copy.GetLength(), c.length) << c.name;
    EXPECT_EQ(copy.GetSize(), c.size) << c.name;
  }
}

TEST(StringMeasure, SizeInOtherEncodings) {
  // 'a' (1/2), U+07FF (2/2), U+FFFF (3/2), U+10000 (4/4), U+10FFFF (4/4).
  const char32_t text[] = {'a', 0x7FF, 0xFFFF, 0x10000, 0x10FFFF, 0};
  const CString s(text);
  EXPECT_EQ(s.GetSizeIn(kUtf8), 1u + 2 + 3 + 4 + 4 + 1);
  EXPECT_EQ(s.GetSizeIn(kUtf16), 2u + 2 + 2 + 4 + 4 + 2);
  EXPECT_EQ(s.GetSizeIn(kUtf32), 24u);
  EXPECT_EQ(CString(nullptr, kUtf8).GetSizeIn(kUtf16), 0u);
}

TEST(StringMeasure, ByteOffsetAndCharAt) {
  const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const CString s(text);
  const uint64_t offsets[] = {0, 1, 3, 6, 10, 11, 11};
  const uint32_t chars[] = {'a', 0xE9, 0x20AC, 0x1F600, 'z', 0, 0};
  for (uint64_t i = 0; i < 7; ++i) {
    EXPECT_EQ(s.GetByteOffset(i), offsets[i]) << i;
    EXPECT_EQ(s.CharAt(i), chars[i]) << i;
  }
  const char16_t wide[] = {'a', 0xD83D, 0xDE00, 'z', 0};
  EXPECT_EQ(CString(wide).GetByteOffset(2), 6u);
  EXPECT_EQ(CString(wide).CharAt(1), 0x1F600u);
  const char32_t full[] = {'a', 'b', 0};
  EXPECT_EQ(CString(full).GetByteOffset(1), 4u);
  EXPECT_EQ(CString(full).GetByteOffset(9), 8u);  // stops at the terminator
  EXPECT_EQ(CString(nullptr, kUtf8).CharAt(0), 0u);
}

// A damaged end: no step crosses the terminator, and the cut sequence is one character 0.
TEST(StringDamagedEnd, CutSequenceIsOneZeroCharacter) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;  // with terminator
    StringEncoding encoding;
    uint64_t length;
  } cases[] = {
      {"two-byte lead alone", {'a', 0xC3, 0}, kUtf8, 2},
      {"three-byte lead, one continuation", {'a', 0xE2, 0x82, 0}, kUtf8, 2},
      {"four-byte lead, two continuations", {0xF0, 0x9F, 0x98, 0}, kUtf8, 1},
      {"four-byte lead alone", {0xF0, 0}, kUtf8, 1},
      {"lone high surrogate", Bytes<char16_t>({'a', 0xD800, 0}), kUtf16, 2},
      {"lone low surrogate", Bytes<char16_t>({0xDC00, 0}), kUtf16, 1},
  };
  for (const auto& c : cases) {
    const CString s(c.bytes.data(), c.encoding);
    EXPECT_EQ(s.GetLength(), c.length) << c.name;
    EXPECT_EQ(s.GetSize(), c.bytes.size()) << c.name;
    EXPECT_EQ(s.CharAt(c.length - 1), 0u) << c.name;
    CStringIterator it(s);
    it.Advance(100);
    EXPECT_EQ(it.GetIndex(), c.length) << c.name;
    EXPECT_EQ(it.GetByteOffset(), c.bytes.size() - UnitSize(c.encoding)) << c.name;
    for (StringEncoding target : {kUtf8, kUtf16, kUtf32}) ConvertChecked(s, target);
  }
}

// Random units (surrogates, stray and cut sequences included): Convert writes exactly
// GetSizeIn bytes, and the iterator, GetLength and a UTF-32 conversion agree on the count.
TEST(StringDamagedEnd, RandomUnitsMeasureAndConvertConsistently) {
  std::mt19937 random(7);
  for (int round = 0; round < 600; ++round) {
    const StringEncoding encoding = static_cast<StringEncoding>(round % 3);
    const uint32_t unit = UnitSize(encoding);
    const size_t units = random() % 12;
    std::vector<uint8_t> bytes((units + 1) * unit, 0);
    for (size_t i = 0; i < units; ++i) {
      uint32_t value;
      if (encoding == kUtf8) value = 0x70 + random() % 0x90;
      else if (encoding == kUtf16) value = (random() % 2) ? 0xD7F0 + random() % 0x820 : 'a';
      else value = 1 + random() % 0x110000;
      std::memcpy(&bytes[i * unit], &value, unit);  // little-endian: the low bytes
    }
    const CString s(bytes.data(), encoding);
    uint64_t steps = 0;
    for (CStringIterator it(s); !it.AtEnd(); it.Next()) ++steps;
    EXPECT_EQ(s.GetLength(), steps);
    for (StringEncoding target : {kUtf8, kUtf16, kUtf32}) ConvertChecked(s, target);
    EXPECT_EQ(s.GetSizeIn(kUtf32), 4 * steps + 4);
  }
}

// Four-byte sequences that decode below U+10000 give the least output per input byte; the ASCII
// chunks of the UTF-8 to UTF-16 path must still stay inside the measured size.
TEST(StringDamagedEnd, DenseShortOutputStaysInBounds) {
  std::mt19937 random(11);
  static const char* const kPieces[] = {"\xF0\x80\x80\x80", "\xF0\x80\x80\x81", "abcdefgh",
                                        "x", "\xC3\xA9", "\xF0\x9F\x98\x80"};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const size_t pieces = random() % 40;
    for (size_t i = 0; i < pieces; ++i) text += kPieces[random() % 6];
    const CString s(text.c_str());
    const std::vector<uint8_t> converted = ConvertChecked(s, kUtf16);
    // Character by character through the iterator and the single code point encoder.
    std::u16string expected;
    for (CStringIterator it(s); !it.AtEnd(); it.Next()) {
      char16_t units[2];
      expected.append(units, EncodeUtf16(it.Current(), units));
    }
    ASSERT_EQ(converted.size(), (expected.size() + 1) * 2);
    EXPECT_EQ(std::memcmp(converted.data(), expected.c_str(), converted.size()), 0);
  }
}

TEST(StringCodePoint, EncodeShortestForms) {
  const struct { uint32_t cp; std::vector<uint8_t> utf8; std::vector<char16_t> utf16; } cases[] = {
      {0x41, {0x41}, {0x41}},                {0x7F, {0x7F}, {0x7F}},
      {0x80, {0xC2, 0x80}, {0x80}},          {0x7FF, {0xDF, 0xBF}, {0x7FF}},
      {0x800, {0xE0, 0xA0, 0x80}, {0x800}},  {0xD7FF, {0xED, 0x9F, 0xBF}, {0xD7FF}},
      {0xE000, {0xEE, 0x80, 0x80}, {0xE000}}, {0xFFFF, {0xEF, 0xBF, 0xBF}, {0xFFFF}},
      {0x10000, {0xF0, 0x90, 0x80, 0x80}, {0xD800, 0xDC00}},
      {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},
  };
  for (const auto& c : cases) {
    uint8_t bytes[8] = {};
    char16_t units[4] = {};
    EXPECT_EQ(EncodeUtf8(c.cp, bytes) - bytes, static_cast<ptrdiff_t>(c.utf8.size())) << c.cp;
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + c.utf8.size()), c.utf8) << c.cp;
    EXPECT_EQ(EncodeUtf16(c.cp, units) - units, static_cast<ptrdiff_t>(c.utf16.size())) << c.cp;
    EXPECT_EQ(std::vector<char16_t>(units, units + c.utf16.size()), c.utf16) << c.cp;
    EXPECT_EQ(DecodeUtf8(bytes, 0), c.cp);
    EXPECT_EQ(DecodeUtf16(units, 0), c.cp);
  }
}

TEST(StringCodePoint, DecodeOddInput) {
  const uint8_t stray[] = {'a', 0xBF, 0xF8, 0x80, 0x80, 0x80, 0};
  EXPECT_EQ(DecodeUtf8(stray, 1), 0u);  // continuation byte as lead
  EXPECT_EQ(DecodeUtf8(stray, 2), 0u);  // no such lead
  EXPECT_EQ(DecodeUtf8(stray, 6), 0u);  // the terminator
  EXPECT_EQ(DecodeUtf8(nullptr, 0), 0u);
  const char16_t reversed[] = {0xDC00, 0xD800, 'x', 0xD800, 'y', 0};
  EXPECT_EQ(DecodeUtf16(reversed, 0), 0xFFFDu);
  EXPECT_EQ(DecodeUtf16(reversed, 3), 0xFFFDu);
  EXPECT_EQ(DecodeUtf16(nullptr, 0), 0u);
}

TEST(StringConvert, BmpEdgeAndSupplementary) {
  const char32_t text[] = {0xFFFF, 0x10000, 0};
  const std::vector<uint8_t> utf8 = ConvertChecked(CString(text), kUtf8);
  EXPECT_EQ(utf8, (std::vector<uint8_t>{0xEF, 0xBF, 0xBF, 0xF0, 0x90, 0x80, 0x80, 0}));
  const std::vector<uint8_t> utf16 = ConvertChecked(CString(text), kUtf16);
  EXPECT_EQ(utf16, Bytes<char16_t>({0xFFFF, 0xD800, 0xDC00, 0}));
  const std::vector<uint8_t> back = ConvertChecked(CString(utf16.data(), kUtf16), kUtf32);
  EXPECT_EQ(back, Bytes<char32_t>({0xFFFF, 0x10000, 0}));
}

TEST(StringConvert, AsciiRunsAroundMultiByte) {
  // Lengths around the 8-byte steps of the ASCII path, with a multi-byte character at each place.
  for (size_t length = 0; length < 40; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      std::string text(length, 'k');
      text.insert(at, "\xE2\x82\xAC");
      std::u16string expected(length, u'k');
      expected.insert(at, 1, u'\u20AC');
      const CString s(text.c_str());
      EXPECT_EQ(s.GetLength(), length + 1);
      const std::vector<uint8_t> out = ConvertChecked(s, kUtf16);
      ASSERT_EQ(out.size(), (expected.size() + 1) * 2);
      EXPECT_EQ(std::memcmp(out.data(), expected.c_str(), out.size()), 0) << length << " " << at;
    }
  }
}

TEST(StringConvert, ConvertToNewAndNullEnds) {
  uint64_t length = 99;
  const CString utf8("h\xC3\xA9llo");
  EXPECT_EQ(ConvertToNew(kUtf8, utf8, length), utf8.GetData());  // same encoding: no copy
  EXPECT_EQ(length, 6u);

  const void* wide = ConvertToNew(CString(u""), utf8, length);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide)), u"h\u00e9llo");
  Memory::Free(const_cast<void*>(wide));

  EXPECT_EQ(ConvertToNew(kUtf32, CString(""), length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(ConvertToNew(kUtf16, CString(nullptr, kUtf8), length), nullptr);
  EXPECT_EQ(length, 0u);
  uint8_t out[4] = {9, 9, 9, 9};
  Convert(CString(nullptr, kUtf8), kUtf16, out);  // a null source writes nothing
  EXPECT_EQ(out[0], 9);
  Convert(CString("ab"), kUtf16, nullptr);  // a null destination must not crash
}

TEST(StringIterator, WalksForwardAndBackInEveryEncoding) {
  const char32_t text[] = {'a', 0xE9, 0x20AC, 0x1F600, 'z', 0};
  for (StringEncoding encoding : {kUtf8, kUtf16, kUtf32}) {
    CMutableString converted;
    converted.Assign(text, kUtf32, encoding);
    CStringIterator it(converted);
    std::vector<uint64_t> offsets;
    for (; !it.AtEnd(); it.Next()) {
      EXPECT_EQ(it.Current(), text[it.GetIndex()]);
      offsets.push_back(it.GetByteOffset());
    }
    EXPECT_EQ(it.GetIndex(), 5u);
    EXPECT_EQ(it.GetByteOffset(), converted.GetSize() - UnitSize(encoding));
    it.Next();  // at the end: stays
    EXPECT_EQ(it.GetIndex(), 5u);
    while (it.GetIndex() > 0) {
      it.Previous();
      EXPECT_EQ(it.GetByteOffset(), offsets[it.GetIndex()]) << encoding;
      EXPECT_EQ(it.Current(), text[it.GetIndex()]) << encoding;
    }
    it.Previous();  // at the start: stays
    EXPECT_EQ(it.GetByteOffset(), 0u);
    it.Advance(3);
    EXPECT_EQ(it.Current(), 0x1F600u) << encoding;
  }
  CStringIterator null(CString(nullptr, kUtf16));
  EXPECT_TRUE(null.AtEnd());
  EXPECT_EQ(null.Current(), 0u);
  null.Next();
  null.Previous();
  EXPECT_EQ(null.GetIndex(), 0u);
  EXPECT_EQ(null.GetPosition(), nullptr);
}

// A null owning string in `encoding`.
static void ExpectNull(const CMutableString& s, StringEncoding encoding) {
  EXPECT_EQ(s.GetData(), nullptr);
  EXPECT_EQ(s.GetEncoding(), encoding);
  EXPECT_EQ(s.GetLength(), 0u);
  EXPECT_EQ(s.GetSize(), 0u);
}

TEST(StringMutable, ConstructAssignAndClear) {
  ExpectNull(CMutableString(), kUtf8);

  const char* source = "gr\xC3\xBC\xC3\x9F";
  CMutableString wide(source, kUtf16);
  EXPECT_EQ(wide.GetEncoding(), kUtf16);
  EXPECT_EQ(wide.GetLength(), 4u);
  EXPECT_EQ(wide.GetSize(), 10u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide.GetData())), u"gr\u00fc\u00df");

  CMutableString copy(wide);
  EXPECT_NE(copy.GetData(), wide.GetData());
  EXPECT_TRUE(Equals(copy, wide));

  wide.Set(nullptr, kUtf32);
  ExpectNull(wide, kUtf32);
  copy.Assign(nullptr, kUtf8, kUtf16);
  ExpectNull(copy, kUtf16);

  CMutableString ascii("abc", kUtf8);
  ascii.Set(ascii.GetData(), kUtf8);  // from its own buffer
  EXPECT_TRUE(Equals(ascii, CString("abc")));
  ascii = ascii;
  EXPECT_EQ(ascii.GetLength(), 3u);
}

TEST(StringMutable, MoveAdoptAndRelease) {
  CMutableString a("moved", kUtf8);
  const void* buffer = a.GetData();
  CMutableString b(std::move(a));
  EXPECT_EQ(b.GetData(), buffer);
  EXPECT_EQ(b.GetLength(), 5u);
  CMutableString c;
  c = std::move(b);
  EXPECT_EQ(c.GetData(), buffer);

  void* block = Memory::Allocate(4, Memory::kObjectPool);
  std::memcpy(block, "xyz", 4);
  c.Adopt(block, kUtf8);  // frees "moved"
  EXPECT_EQ(c.GetLength(), 3u);
  EXPECT_EQ(c.GetSize(), 4u);
  void* released = c.Release();
  EXPECT_EQ(released, block);
  EXPECT_EQ(c.GetData(), nullptr);
  Memory::Free(released);
}

TEST(StringMutable, DecodedZeroEndsConvertedText) {
  // The stray byte becomes code point 0: the converted text ends there, and the cached
  // measures say what a view of the buffer says.
  CMutableString s;
  s.Assign("ab\x80yz", kUtf8, kUtf16);
  EXPECT_EQ(s.GetLength(), CString(s.GetData(), kUtf16).GetLength());
  EXPECT_EQ(s.GetSize(), CString(s.GetData(), kUtf16).GetSize());
  EXPECT_EQ(s.GetLength(), 2u);
}

TEST(StringMutable, FailedAllocationKeepsContents) {
  const std::string big(20000, 'q');
  CMutableString s("keep me", kUtf8);
  const void* before = s.GetData();
  auto unchanged = [&] {
    EXPECT_EQ(s.GetData(), before);
    EXPECT_TRUE(Equals(s, CString("keep me")));
    EXPECT_EQ(s.GetLength(), 7u);
  };
  QuorinTest::ForEachAllocationFailure([&] { s.Assign(big.c_str(), kUtf8, kUtf16); }, unchanged);
  EXPECT_EQ(s.GetLength(), big.size());

  CMutableString t("keep me", kUtf8);
  before = t.GetData();
  QuorinTest::ForEachAllocationFailure([&] { t.Set(big.c_str(), kUtf8); },
                            [&] { EXPECT_EQ(t.GetData(), before); EXPECT_EQ(t.GetSize(), 8u); });
  EXPECT_EQ(t.GetSize(), big.size() + 1);
}

TEST(StringMutable, AssignNumber) {
  char expected[3][kNumberAsciiCapacity];
  SignedToAscii(INT64_MIN, expected[0]);
  UnsignedToAscii(UINT64_MAX, expected[1]);
  DoubleToAscii(-1e300, expected[2]);  // longer than any fixed small buffer
  for (StringEncoding encoding : {kUtf8, kUtf16, kUtf32}) {
    CMutableString s[3];
    s[0].AssignNumber(INT64_MIN, encoding);
    s[1].AssignNumber(UINT64_MAX, encoding);
    s[2].AssignNumber(-1e300, encoding);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(s[i].GetEncoding(), encoding);
      EXPECT_TRUE(Equals(s[i], CString(expected[i]))) << expected[i];
      EXPECT_EQ(s[i].GetLength(), std::strlen(expected[i]));
    }
  }
}

TEST(StringPieces, ConcatAppendAndAssign) {
  const CString a("path");
  const CString slash("/");
  const CString b("f\xC3\xA9le");
  CMutableString joined;
  joined.AssignPieces(Append(Append(Concat(a, CString(nullptr, kUtf8)), slash), b));
  EXPECT_TRUE(Equals(joined, CString("path/f\xC3\xA9le")));
  EXPECT_EQ(joined.GetLength(), 9u);
  EXPECT_EQ(joined.GetSize(), 11u);
  // An empty chain gives the empty text, not null.
  CStringPieceList list = Concat(CString(nullptr, kUtf8), CString(nullptr, kUtf8));
  EXPECT_TRUE(list.IsEmpty());
  CMutableString empty;
  empty.Assign(nullptr, kUtf8, kUtf16);
  empty.AssignPieces(std::move(list));
  EXPECT_NE(empty.GetData(), nullptr);
  EXPECT_EQ(empty.GetSize(), 2u);
  EXPECT_EQ(empty.GetLength(), 0u);
}

TEST(StringPieces, EncodingOfTheFirstPiece) {
  CStringPieceList list = Concat(CString(u"ab"), CString("\xC3\xA9"));
  Append(list, CString(U"\U0001F600"));
  CMutableString joined;
  joined.AssignPieces(std::move(list));
  EXPECT_EQ(joined.GetEncoding(), kUtf16);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(joined.GetData())), u"ab\u00e9\U0001F600");
  EXPECT_EQ(joined.GetLength(), 4u);
}

// A chain that is never joined frees its nodes (the run's leak check sees a node left behind).
TEST(StringPieces, UnconsumedChainFreesItsNodes) {
  CStringPieceList list = Append(Concat(CString("a"), CString("b")), CString("c"));
  CStringPieceList moved(std::move(list));
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_FALSE(moved.IsEmpty());
}

TEST(StringPieces, FailedJoinKeepsStringAndChain) {
  const std::string big(20000, 'p');
  CMutableString target("old", kUtf8);
  CStringPieceList list = Concat(CString(big.c_str()), CString("!"));
  QuorinTest::ForEachAllocationFailure(
      [&] { target.AssignPieces(std::move(list)); },
      [&] {
        EXPECT_TRUE(Equals(target, CString("old")));
        ASSERT_FALSE(list.IsEmpty());
        EXPECT_EQ(list.GetFirst()->text.GetData(), big.c_str());
      });
  EXPECT_EQ(target.GetLength(), big.size() + 1);
  EXPECT_TRUE(list.IsEmpty());
}
