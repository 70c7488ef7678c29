// Strings: measuring, the walking rule at a damaged end, code points, conversion, the iterator,
// owning strings (including allocation failure) and piece chains.
#include <cstring>
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
  for (size_t i = size; i < out.size(); ++i) EXPECT_EQ(out[i], 0xA5) << "Convert wrote past GetSizeIn at " << i;
  out.resize(size);
  return out;
}

template <typename Unit>
std::vector<uint8_t> Bytes(std::initializer_list<Unit> units) {
  std::vector<uint8_t> out(units.size() * sizeof(Unit));
  std::memcpy(out.data(), units.begin(), out.size());
  return out;
}

// A damaged end (cut sequence, lone surrogate) counts as one character 0 and no step crosses the
// terminator: measures, iterator and conversions agree.
TEST(String, LengthAndSizeByEncodingAndAtADamagedEnd) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;  // with terminator; empty: null pointer
    StringEncoding encoding;
    uint64_t length;
  } cases[] = {
      {"null utf16", {}, kUtf16, 0},          {"empty utf32", {0, 0, 0, 0}, kUtf32, 0},
      {"euro utf8", {0xE2, 0x82, 0xAC, 'x', 0}, kUtf8, 2}, {"code 7 is utf32", Bytes<char32_t>({'a', 'b', 0}), 7, 2},
      {"stray continuation", {'a', 0x80, 'b', 0}, kUtf8, 3},
      {"two-byte lead alone", {'a', 0xC3, 0}, kUtf8, 2},
      {"three-byte lead, one continuation", {'a', 0xE2, 0x82, 0}, kUtf8, 2},
      {"four-byte lead, two continuations", {0xF0, 0x9F, 0x98, 0}, kUtf8, 1},
      {"lone high surrogate", Bytes<char16_t>({'a', 0xD800, 0}), kUtf16, 2},
      {"lone low surrogate", Bytes<char16_t>({0xDC00, 0}), kUtf16, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CString s(c.bytes.empty() ? nullptr : c.bytes.data(), c.encoding);
    EXPECT_EQ(s.GetLength(), c.length);
    EXPECT_EQ(s.GetSize(), c.bytes.size());
    EXPECT_EQ(CMutableString(s).GetSize(), c.bytes.size());
    if (c.bytes.empty()) continue;
    CStringIterator it(s);
    it.Advance(100);
    EXPECT_EQ(it.GetIndex(), c.length);
    EXPECT_EQ(it.GetByteOffset(), c.bytes.size() - UnitSize(c.encoding));
    for (StringEncoding target : {kUtf8, kUtf16, kUtf32}) ConvertChecked(s, target);
    EXPECT_EQ(s.GetSizeIn(kUtf32), 4 * c.length + 4);
  }
}

// Random units (surrogates, stray and cut sequences included): Convert writes exactly
// GetSizeIn bytes, and the iterator, GetLength and a UTF-32 conversion agree on the count.
TEST(String, RandomUnitsMeasureAndConvertConsistently) {
  std::mt19937 random(7);
  for (int round = 0; round < 600; ++round) {
    const StringEncoding encoding = static_cast<StringEncoding>(round % 3);
    const uint32_t unit = UnitSize(encoding);
    const size_t units = random() % 12;
    std::vector<uint8_t> bytes((units + 1) * unit, 0);
    for (size_t i = 0; i < units; ++i) {
      uint32_t value = 1 + random() % 0x110000;
      if (encoding == kUtf8) value = 0x70 + random() % 0x90;
      if (encoding == kUtf16) value = (random() % 2) ? 0xD7F0 + random() % 0x820 : 'a';
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

// UTF-8 to UTF-16 takes ASCII 8 bytes at a time: ASCII runs of every length with a multi-byte
// character at every place, and overlong four-byte sequences (the least output per input byte),
// must still fit the measured size and match the character-by-character encoder.
TEST(String, Utf8ToUtf16ChunksStayInBounds) {
  std::vector<std::string> texts;
  for (size_t length = 0; length < 40; ++length)
    for (size_t at = 0; at <= length; ++at) texts.push_back(std::string(length, 'k').insert(at, "\xE2\x82\xAC"));
  std::mt19937 random(11);
  static const char* const kPieces[] = {"\xF0\x80\x80\x80", "\xF0\x80\x80\x81", "abcdefgh", "x", "\xC3\xA9",
                                        "\xF0\x9F\x98\x80"};
  for (int round = 0; round < 400; ++round) {
    std::string& text = texts.emplace_back();
    for (size_t i = random() % 40; i > 0; --i) text += kPieces[random() % 6];
  }
  for (const std::string& text : texts) {
    const CString s(text.c_str());
    std::u16string expected;
    for (CStringIterator it(s); !it.AtEnd(); it.Next()) {
      char16_t units[2];
      expected.append(units, EncodeUtf16(it.Current(), units));
    }
    const std::vector<uint8_t> converted = ConvertChecked(s, kUtf16);
    ASSERT_EQ(converted.size(), (expected.size() + 1) * 2);
    ASSERT_EQ(std::memcmp(converted.data(), expected.c_str(), converted.size()), 0) << text;
  }
}

// Valid code points are checked against iconv (StringDifferentialTest); here the odd input.
TEST(String, DecodingOddInputGivesZeroOrReplacement) {
  const uint8_t stray[] = {'a', 0xBF, 0xF8, 0x80, 0x80, 0x80, 0};
  for (uint64_t at : {1, 2, 6}) EXPECT_EQ(DecodeUtf8(stray, at), 0u) << at;  // continuation, no lead, end
  const char16_t reversed[] = {0xDC00, 0xD800, 'x', 0xD800, 'y', 0};
  EXPECT_EQ(DecodeUtf16(reversed, 0), 0xFFFDu);
  EXPECT_EQ(DecodeUtf16(reversed, 3), 0xFFFDu);
  EXPECT_EQ(DecodeUtf8(nullptr, 0) + DecodeUtf16(nullptr, 0), 0u);
}

TEST(String, ConvertToNewCopiesOnlyAcrossEncodingsAndNullWritesNothing) {
  uint64_t length = 99;
  const CString utf8("h\xC3\xA9llo");
  EXPECT_EQ(ConvertToNew(kUtf8, utf8, length), utf8.GetData());
  EXPECT_EQ(length, 6u);
  const void* wide = ConvertToNew(CString(u""), utf8, length);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide)), u"h\u00e9llo");
  Memory::Free(const_cast<void*>(wide));
  EXPECT_EQ(ConvertToNew(kUtf16, CString(nullptr, kUtf8), length), nullptr);
  EXPECT_EQ(length, 0u);
  uint8_t out[4] = {9, 9, 9, 9};
  Convert(CString(nullptr, kUtf8), kUtf16, out);
  EXPECT_EQ(out[0], 9);
  Convert(CString("ab"), kUtf16, nullptr);  // a null destination must not crash
}

TEST(String, IteratorWalksForwardAndBackInEveryEncoding) {
  const char32_t text[] = {'a', 0xE9, 0x20AC, 0x1F600, 'z', 0};
  const uint64_t utf8Offsets[] = {0, 1, 3, 6, 10, 11};
  for (StringEncoding encoding : {kUtf8, kUtf16, kUtf32}) {
    SCOPED_TRACE(encoding);
    CMutableString converted;
    converted.Assign(text, kUtf32, encoding);
    CStringIterator it(converted);
    std::vector<uint64_t> offsets;
    for (; !it.AtEnd(); it.Next()) {
      EXPECT_EQ(it.Current(), text[it.GetIndex()]);
      EXPECT_EQ(converted.CharAt(it.GetIndex()), text[it.GetIndex()]);
      EXPECT_EQ(converted.GetByteOffset(it.GetIndex()), it.GetByteOffset());
      offsets.push_back(it.GetByteOffset());
    }
    EXPECT_EQ(it.GetByteOffset(), converted.GetSize() - UnitSize(encoding));
    EXPECT_EQ(converted.GetByteOffset(9), it.GetByteOffset());  // stops at the terminator
    if (encoding == kUtf8) {
      EXPECT_EQ(offsets, std::vector<uint64_t>(utf8Offsets, utf8Offsets + 5));
    }
    it.Next();  // at the end: stays
    EXPECT_EQ(it.GetIndex(), 5u);
    while (it.GetIndex() > 0) {
      it.Previous();
      EXPECT_EQ(it.GetByteOffset(), offsets[it.GetIndex()]);
    }
    it.Previous();  // at the start: stays
    it.Advance(3);
    EXPECT_EQ(it.Current(), 0x1F600u);
  }
  CStringIterator null(CString(nullptr, kUtf16));
  null.Next();
  null.Previous();
  EXPECT_TRUE(null.AtEnd() && null.Current() == 0 && null.GetIndex() == 0 && null.GetPosition() == nullptr);
}

TEST(String, OwningStringsConvertCopyMoveAdoptAndRelease) {
  CMutableString wide("gr\xC3\xBC\xC3\x9F", kUtf16);
  EXPECT_EQ(wide.GetLength(), 4u);
  EXPECT_EQ(wide.GetSize(), 10u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(wide.GetData())), u"gr\u00fc\u00df");
  CMutableString copy(wide);
  EXPECT_NE(copy.GetData(), wide.GetData());
  EXPECT_TRUE(Equals(copy, wide));
  copy.Assign(nullptr, kUtf8, kUtf32);
  EXPECT_TRUE(copy.GetData() == nullptr && copy.GetEncoding() == kUtf32 && copy.GetSize() == 0);
  CMutableString ascii("abc", kUtf8);
  ascii.Set(ascii.GetData(), kUtf8);  // from its own buffer
  ascii = ascii;
  EXPECT_TRUE(Equals(ascii, CString("abc")));
  // A stray byte decodes to 0: the converted text ends there, and the cached measures agree.
  CMutableString cut;
  cut.Assign("ab\x80yz", kUtf8, kUtf16);
  EXPECT_EQ(cut.GetLength(), 2u);
  EXPECT_EQ(cut.GetSize(), 6u);

  const void* buffer = ascii.GetData();
  CMutableString moved(std::move(ascii));
  CMutableString target;
  target = std::move(moved);
  EXPECT_EQ(target.GetData(), buffer);
  void* block = Memory::Allocate(4, Memory::kObjectPool);
  std::memcpy(block, "xyz", 4);
  target.Adopt(block, kUtf8);  // frees "abc"
  EXPECT_EQ(target.GetLength(), 3u);
  EXPECT_EQ(target.Release(), block);
  EXPECT_EQ(target.GetData(), nullptr);
  Memory::Free(block);
}

TEST(String, FailedAllocationKeepsTheContents) {
  const std::string big(20000, 'q');
  for (const bool convert : {true, false}) {
    CMutableString s("keep me", kUtf8);
    const void* before = s.GetData();
    QuorinTest::ForEachAllocationFailure(
        [&] { convert ? s.Assign(big.c_str(), kUtf8, kUtf16) : s.Set(big.c_str(), kUtf8); },
        [&] {
          EXPECT_EQ(s.GetData(), before);
          EXPECT_TRUE(Equals(s, CString("keep me")));
          EXPECT_EQ(s.GetSize(), 8u);
        });
    EXPECT_EQ(s.GetLength(), big.size());
  }
}

TEST(String, AssignNumberInEveryEncoding) {
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

// Pieces join in the first piece's encoding; an empty chain gives the empty text, not null; a
// chain never joined frees its nodes (leak check).
TEST(String, PieceChainsJoinInTheFirstPiecesEncoding) {
  CMutableString joined;
  joined.AssignPieces(Append(Append(Concat(CString(u"ab"), CString(nullptr, kUtf8)), CString("\xC3\xA9")),
                             CString(U"\U0001F600")));
  EXPECT_EQ(joined.GetEncoding(), kUtf16);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(joined.GetData())), u"ab\u00e9\U0001F600");
  EXPECT_EQ(joined.GetLength(), 4u);
  EXPECT_EQ(joined.GetSize(), 12u);
  CStringPieceList list = Concat(CString(nullptr, kUtf8), CString(nullptr, kUtf8));
  EXPECT_TRUE(list.IsEmpty());
  CMutableString empty;
  empty.Assign(nullptr, kUtf8, kUtf16);
  empty.AssignPieces(std::move(list));
  EXPECT_EQ(empty.GetSize(), 2u);
  CStringPieceList unused = Append(Concat(CString("a"), CString("b")), CString("c"));
  CStringPieceList moved(std::move(unused));
  EXPECT_TRUE(unused.IsEmpty());
  EXPECT_FALSE(moved.IsEmpty());
}

TEST(String, FailedJoinKeepsTheStringAndTheChain) {
  const std::string big(20000, 'p');
  CMutableString target("old", kUtf8);
  CStringPieceList list = Concat(CString(big.c_str()), CString("!"));
  QuorinTest::ForEachAllocationFailure([&] { target.AssignPieces(std::move(list)); },
                                       [&] {
                                         EXPECT_TRUE(Equals(target, CString("old")));
                                         ASSERT_FALSE(list.IsEmpty());
                                         EXPECT_EQ(list.GetFirst()->text.GetData(), big.c_str());
                                       });
  EXPECT_EQ(target.GetLength(), big.size() + 1);
  EXPECT_TRUE(list.IsEmpty());
}

}  // namespace
