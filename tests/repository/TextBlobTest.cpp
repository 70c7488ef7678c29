// Texts and blobs through the exports: the three encodings, text ids, long texts beyond the byte
// pool's block, text and script references, blobs, recorded names, and absent results.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;

constexpr uint32_t kNoId = 0xFFFFFFFF;

using TextTest = LibraryTest;
using BlobTest = LibraryTest;

// ---- Text ids --------------------------------------------------------------------------------

struct HashCase {
  const char* text;
  uint32_t hash;
};

class TextIdTest : public testing::TestWithParam<HashCase> {};

// The CRC runs over the terminator too, from 0xFFFFFFFF without the final inversion; it is pure,
// so it answers before start-up as well (these tests never start the library).
TEST_P(TextIdTest, IsTheCrcOverTheTerminatedBytes) {
  EXPECT_EQ(TlxCalculateTextId(GetParam().text), GetParam().hash);
}

INSTANTIATE_TEST_SUITE_P(Known, TextIdTest,
                         testing::Values(HashCase{"abc", 0x58A297AFu},
                                         // one zero byte: table entry 0xFF shifted in
                                         HashCase{"", 0x2D02EF8Du ^ 0x00FFFFFFu},
                                         HashCase{nullptr, 0u}));

TEST(TextIdAfterShutdown, StillAnswers) {
  ASSERT_TRUE(StartLibrary());
  TlxShutdown();
  EXPECT_EQ(TlxCalculateTextId("abc"), 0x58A297AFu);
}

// ---- Texts in three encodings ----------------------------------------------------------------

struct EncodingCase {
  const char* name;
  uint32_t encoding;
  std::vector<uint8_t> bytes;  // terminator included
};

class TextEncodingTest : public TextTest, public testing::WithParamInterface<EncodingCase> {};

std::vector<uint8_t> Raw(const void* data, size_t size) { return Bytes(data, size); }

TEST_P(TextEncodingTest, StoresTheTerminatedBytesAndTheEncoding) {
  const EncodingCase& c = GetParam();
  const uint32_t id = TlxCalculateTextId(c.name);
  TlxCreateTextWithEncoding(id, c.bytes.data(), c.encoding);
  ASSERT_TRUE(TlxIsTextRegistered(id));
  EXPECT_EQ(TlxGetTextEncoding(id), c.encoding);
  const void* stored = TlxGetText(id);
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, c.bytes.data());
  EXPECT_EQ(Raw(stored, c.bytes.size()), c.bytes);
  EXPECT_EQ(TlxResolveTextRef(id), stored);
}

std::vector<uint8_t> Encode16(const std::u16string& text) {
  std::vector<uint8_t> out(2 * (text.size() + 1), 0);
  std::memcpy(out.data(), text.data(), 2 * text.size());
  return out;
}

std::vector<uint8_t> Encode32(const std::u32string& text) {
  std::vector<uint8_t> out(4 * (text.size() + 1), 0);
  std::memcpy(out.data(), text.data(), 4 * text.size());
  return out;
}

std::vector<uint8_t> Encode8(const std::string& text) {
  std::vector<uint8_t> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, TextEncodingTest,
    testing::Values(EncodingCase{"Utf8", 0, Encode8("Gr\xC3\xBC\xC3\x9F" "e")},
                    EncodingCase{"Utf8Empty", 0, Encode8("")},
                    EncodingCase{"Utf16", 1, Encode16(u"h\u00E9")},
                    EncodingCase{"Utf16Surrogate", 1, Encode16(u"a\U0001F600b")},
                    EncodingCase{"Utf32", 2, Encode32(U"\u20AC\U0001F600")},
                    EncodingCase{"Utf32Empty", 2, Encode32(U"")}),
    [](const testing::TestParamInfo<EncodingCase>& c) { return c.param.name; });

TEST_F(TextTest, Utf8ExportCopiesTheString) {
  std::string text = "Once upon a time";
  TlxCreateText(TlxCalculateTextId(text.c_str()), text.c_str());
  text[0] = 'X';
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(TlxCalculateTextId("Once upon a time"))),
               "Once upon a time");
  EXPECT_EQ(TlxGetTextEncoding(TlxCalculateTextId("Once upon a time")), 0u);
}

TEST_F(TextTest, NullStringKeepsANullText) {
  TlxCreateText(4, nullptr);
  EXPECT_TRUE(TlxIsTextRegistered(4));
  EXPECT_EQ(TlxGetText(4), nullptr);
  TlxCreateTextWithEncoding(5, nullptr, 1);
  EXPECT_EQ(TlxGetTextEncoding(5), 1u);
  EXPECT_EQ(TlxGetText(5), nullptr);
}

// Texts share the region's 1024-byte blocks until one does not fit; longer ones get their own
// block. Every text, short or long, must read back whole (ASan checks the edges).
TEST_F(TextTest, TextsAroundAndBeyondThePoolBlockReadBackWhole) {
  const size_t sizes[] = {1, 10, 1000, 1022, 1023, 1024, 1025, 3000, 5, 70000, 512, 511};
  std::vector<std::string> texts;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string text(sizes[i] - 1, static_cast<char>('a' + i));
    texts.push_back(text);
    TlxCreateText(static_cast<uint32_t>(i), text.c_str());
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const char* stored = static_cast<const char*>(TlxGetText(static_cast<uint32_t>(i)));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(stored), texts[i]) << sizes[i];
  }
}

TEST_F(TextTest, LongUtf32TextIsAligned) {
  std::u32string text(600, U'x');  // 2404 bytes
  const std::vector<uint8_t> bytes = Encode32(text);
  TlxCreateTextWithEncoding(1, bytes.data(), 2);
  const void* stored = TlxGetText(1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(stored) % 4, 0u);
  EXPECT_EQ(Raw(stored, bytes.size()), bytes);
}

TEST_F(TextTest, TextsGoWithTheirRegion) {
  TlxCreateText(1, "kept");
  TlxBeginRegionWithId(3);
  TlxCreateText(2, "dropped");
  TlxCreateText(3, std::string(2000, 'z').c_str());
  TlxEndRegion();
  TlxDropRegionData(3);
  EXPECT_FALSE(TlxIsTextRegistered(2));
  EXPECT_FALSE(TlxIsTextRegistered(3));
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(1)), "kept");
}

TEST_F(TextTest, ReferencesToTexts) {
  TlxCreateText(kNoId, "never named");
  TlxCreateText(6, "x = 1");
  EXPECT_EQ(TlxResolveTextRef(kNoId), nullptr);
  EXPECT_EQ(TlxResolveTextRef(7), nullptr);
  struct Case {
    uint32_t textId;
    uint8_t kind;
    bool found;
  };
  for (const Case& c : {Case{6, 0, false}, Case{6, 1, true}, Case{6, 2, true}, Case{7, 1, false}}) {
    const TlxScriptReference ref{c.textId, c.kind};
    EXPECT_EQ(TlxResolveScriptRef(&ref), c.found ? TlxGetText(6) : nullptr)
        << c.textId << " kind " << int{c.kind};
  }
  EXPECT_EQ(TlxResolveScriptRef(nullptr), nullptr);
}

TEST_F(TextTest, AbsentTextsAndUnknownIds) {
  EXPECT_FALSE(TlxIsTextRegistered(1));
  EXPECT_EQ(TlxGetText(1), nullptr);
  EXPECT_EQ(TlxGetTextEncoding(1), 0u);
  EXPECT_EQ(TlxDebug_TryGetString(TlxCalculateTextId("never recorded")), nullptr);
}

// ---- Recorded names --------------------------------------------------------------------------

struct RecordCase {
  const char* name;
  uint8_t flags;
  bool recorded;
};

class RecordedNamesTest : public testing::TestWithParam<RecordCase> {
 protected:
  void TearDown() override { TlxShutdown(); }
};

TEST_P(RecordedNamesTest, MemberNamesReadBackOnlyWhenRecorded) {
  ASSERT_TRUE(StartLibrary(GetParam().flags));
  TlxBeginClassType(0xFFFF);
  TlxAddClassMember("Speed", kDWord, 1);
  TlxEndClassType("Vehicle", 12);
  for (const char* name : {"Speed", "Vehicle"}) {
    const char* back = TlxDebug_TryGetString(TlxCalculateTextId(name));
    if (GetParam().recorded) {
      ASSERT_NE(back, nullptr);
      EXPECT_STREQ(back, name);
    } else {
      EXPECT_EQ(back, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Flags, RecordedNamesTest,
                         testing::Values(RecordCase{"Off", 0, false}, RecordCase{"On", 1, true},
                                         RecordCase{"OtherBitsOnly", 2, false}),
                         [](const testing::TestParamInfo<RecordCase>& c) { return c.param.name; });

// ---- Blobs -----------------------------------------------------------------------------------

TEST_F(BlobTest, CreatedWithBytesHoldsACopy) {
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  TlxCreateBlob(3, bytes, sizeof bytes);
  bytes[0] = 9;
  TlxBlob* blob = TlxGetBlob(3);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->size, 5u);
  EXPECT_EQ(Bytes(blob->data, 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(TlxIsBlobRegistered(3));
}

TEST_F(BlobTest, SecondCreateKeepsTheFirstBlob) {
  const uint8_t first[2] = {1, 2}, second[3] = {7, 8, 9};
  TlxCreateBlob(3, first, 2);
  TlxBlob* blob = TlxGetBlob(3);
  TlxCreateBlob(3, second, 3);
  EXPECT_EQ(TlxGetBlob(3), blob);
  EXPECT_EQ(blob->size, 2u);
  EXPECT_EQ(Bytes(blob->data, 2), (std::vector<uint8_t>{1, 2}));
}

TEST_F(BlobTest, ZeroSizeBlobHasNoBytes) {
  const uint8_t bytes[1] = {1};
  TlxCreateBlob(1, bytes, 0);
  TlxCreateBlob(2, nullptr, 0);
  for (uint32_t id : {1u, 2u}) {
    TlxBlob* blob = TlxGetBlob(id);
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->size, 0u);
    const uint8_t* data = blob->data;  // a packed field: read it before comparing
    EXPECT_EQ(data, nullptr);
  }
}

TEST_F(BlobTest, ReferencesResolveOnlyWithTheBlobKind) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  TlxCreateBlob(8, bytes, 4);
  for (uint8_t kind = 0; kind < 8; ++kind) {
    const TlxReference ref{8, kind};
    EXPECT_EQ(TlxResolveBlobRef(&ref), kind == 5 ? TlxGetBlob(8) : nullptr) << int{kind};
  }
  const TlxReference absent{9, 5};
  EXPECT_EQ(TlxResolveBlobRef(&absent), nullptr);
  EXPECT_EQ(TlxResolveBlobRef(nullptr), nullptr);
  EXPECT_FALSE(TlxIsBlobRegistered(9));
  EXPECT_EQ(TlxGetBlob(9), nullptr);
}

TEST_F(BlobTest, BlobsGoWithTheirRegion) {
  const uint8_t bytes[100] = {};
  TlxCreateBlob(1, bytes, 100);
  TlxBeginRegion();
  const uint16_t region = TlxBeginRegion();
  TlxCreateBlob(2, bytes, 100);
  TlxEndRegion();
  TlxDropRegionData(region);
  EXPECT_FALSE(TlxIsBlobRegistered(2));
  EXPECT_TRUE(TlxIsBlobRegistered(1));
  TlxCreateBlob(2, bytes, 50);  // the id is free again
  EXPECT_EQ(TlxGetBlob(2)->size, 50u);
}

// ---- Before start-up and after shutdown ------------------------------------------------------

void ExpectTextExportsAbsent() {
  const uint64_t before = Counters().allocateCalls.load();
  const uint8_t bytes[4] = {1, 2, 3, 4};
  TlxCreateText(1, "text");
  TlxCreateTextWithEncoding(2, u"text", 1);
  EXPECT_FALSE(TlxIsTextRegistered(1));
  EXPECT_EQ(TlxGetText(1), nullptr);
  EXPECT_EQ(TlxGetTextEncoding(2), 0u);
  EXPECT_EQ(TlxResolveTextRef(1), nullptr);
  const TlxScriptReference script{1, 1};
  EXPECT_EQ(TlxResolveScriptRef(&script), nullptr);
  EXPECT_EQ(TlxDebug_TryGetString(TlxCalculateTextId("text")), nullptr);
  TlxCreateBlob(3, bytes, 4);
  EXPECT_FALSE(TlxIsBlobRegistered(3));
  EXPECT_EQ(TlxGetBlob(3), nullptr);
  const TlxReference ref{3, 5};
  EXPECT_EQ(TlxResolveBlobRef(&ref), nullptr);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

TEST(TextBlobExportsBeforeStart, GiveAbsentResults) { ExpectTextExportsAbsent(); }

TEST(TextBlobExportsAfterShutdown, GiveAbsentResults) {
  ASSERT_TRUE(StartLibrary(1));
  TlxCreateText(1, "text");
  TlxCreateBlob(3, "abcd", 4);
  TlxShutdown();
  ExpectTextExportsAbsent();
}

}  // namespace
