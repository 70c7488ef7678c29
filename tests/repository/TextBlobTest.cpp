// Texts and blobs: the three encodings, text ids, long texts beyond the byte pool's block, texts
// filled piece by piece, text and script references, blobs written piece by piece, recorded
// names, walks, regions, and absent results.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/Texts.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;
using namespace Quorin;

using TextBlobTest = LibraryTest;

template <typename Char>
std::vector<uint8_t> Encoded(const std::basic_string<Char>& text) {
  return Bytes(text.c_str(), sizeof(Char) * (text.size() + 1));
}

// The CRC over the terminated bytes (values: StringDifferentialTest); it is pure, so it answers
// before start-up and after shutdown as well.
TEST(TextId, IsTheNameHashAtAnyTime) {
  EXPECT_EQ(TlxCalculateTextId("abc"), 0x58A297AFu);
  EXPECT_EQ(TlxCalculateTextId(nullptr), 0u);
  ASSERT_TRUE(StartLibrary());
  TlxShutdown();
  EXPECT_EQ(TlxCalculateTextId("abc"), 0x58A297AFu);
}

TEST_F(TextBlobTest, TextsKeepCopiesOfTheirTerminatedBytesAndEncoding) {
  const struct { uint32_t encoding; std::vector<uint8_t> bytes; } cases[] = {
      {0, Encoded<char>("Gr\xC3\xBC\xC3\x9F" "e")}, {0, Encoded<char>("")}, {1, Encoded<char16_t>(u"a\U0001F600b")},
      {2, Encoded<char32_t>(U"\u20AC\U0001F600")}, {2, Encoded<char32_t>(U"")},
      {2, Encoded(std::u32string(600, U'x'))},  // 2404 bytes: a block of its own, still aligned
  };
  for (uint32_t id = 0; id < std::size(cases); ++id) {
    const auto& c = cases[id];
    TlxCreateTextWithEncoding(id, c.bytes.data(), c.encoding);
    const void* stored = TlxGetText(id);
    ASSERT_NE(stored, nullptr) << id;
    EXPECT_NE(stored, c.bytes.data());
    EXPECT_EQ(Bytes(stored, c.bytes.size()), c.bytes) << id;
    EXPECT_EQ(TlxGetTextEncoding(id), c.encoding);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(stored) % (c.encoding == 2 ? 4 : c.encoding + 1), 0u);
    EXPECT_EQ(TlxResolveTextRef(id), stored);
  }
  TlxCreateText(10, nullptr);  // a null string keeps a null text
  TlxCreateTextWithEncoding(11, nullptr, 1);
  EXPECT_TRUE(TlxIsTextRegistered(10) && TlxGetText(10) == nullptr && TlxGetText(11) == nullptr);
  EXPECT_EQ(TlxGetTextEncoding(11), 1u);
}

// A text of a given capacity is terminated from the start and appends only what fits with its
// terminator; a text made whole is filled and refuses appends; Close ends appending.
TEST_F(TextBlobTest, TextsFilledPieceByPieceKeepRoomForTheirTerminator) {
  const struct {
    uint32_t encoding, capacity;
    std::vector<uint32_t> counts, results;  // bytes of each append from "abcd...", and its answer
    uint32_t writtenAfter;
  } cases[] = {
      {0, 6, {3, 2, 1}, {3, 2, 0}, 6},   {0, 6, {6, 5}, {0, 5}, 6},      {0, 10, {0xFFFFFFFFu, 2}, {0, 2}, 2},
      {0, 0, {0, 1}, {0, 0}, 0},         {1, 10, {4, 4, 2}, {4, 4, 0}, 10}, {1, 7, {4, 2}, {4, 0}, 4},
      {2, 12, {12, 8}, {0, 8}, 12},
  };
  const std::string source = "abcdefghijklmnopqrstuvwxyz";
  for (uint32_t id = 0; id < std::size(cases); ++id) {
    const auto& c = cases[id];
    CText_Internal* text = CreateTextWithCapacity(Repo(), id, c.capacity, c.encoding);
    if (c.capacity != 0) {
      EXPECT_TRUE(Bravik::CString(text->GetBytes(), c.encoding).IsEmpty()) << id;
    }
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < c.counts.size(); ++i) {
      EXPECT_EQ(text->AppendBytes(source.data() + expected.size(), c.counts[i]), c.results[i]) << id << ": " << i;
      expected.insert(expected.end(), source.begin() + expected.size(), source.begin() + expected.size() + c.results[i]);
    }
    EXPECT_EQ(text->GetWritten(), c.writtenAfter) << id;
    expected.insert(expected.end(), Bravik::UnitSize(c.encoding), 0);
    if (c.capacity != 0) {
      EXPECT_EQ(Bytes(text->GetBytes(), expected.size()), expected) << id;
    }
    EXPECT_EQ(FindUnfilledText(Repo(), id), text->IsFilled() ? nullptr : text) << id;
  }
  CText_Internal* open = CreateTextWithCapacity(Repo(), 20, 100, Bravik::kUtf8);
  open->AppendBytes("abc", 3);
  EXPECT_EQ(open->Close(), 3u);
  EXPECT_EQ(open->AppendBytes("d", 1), 0u);
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(20)), "abc");
  TlxCreateTextWithEncoding(21, u"hi", 1);
  EXPECT_EQ(FindText(Repo(), 21)->GetCapacity(), 6u);
  EXPECT_EQ(FindText(Repo(), 21)->AppendBytes("x", 1), 0u);
  CText_Internal* again = CreateTextWithCapacity(Repo(), 21, 8, Bravik::kUtf8);  // a repeated id
  EXPECT_EQ(FindUnfilledText(Repo(), 21), again);
  // A long text gets a block of its own and is filled in pieces across the 1024-byte mark.
  const std::string content(4999, 'q');
  CText_Internal* longText = CreateTextWithCapacity(Repo(), 22, 5000, Bravik::kUtf8);
  for (size_t at = 0; at < content.size(); at += 700) {
    const auto piece = static_cast<uint32_t>(std::min<size_t>(700, content.size() - at));
    ASSERT_EQ(longText->AppendBytes(content.data() + at, piece), piece);
  }
  EXPECT_EQ(std::string(static_cast<const char*>(TlxGetText(22))), content);
}

TEST_F(TextBlobTest, ScriptReferencesOfKindOneOrTwoResolveToTheirText) {
  TlxCreateText(0xFFFFFFFF, "never named");
  TlxCreateText(6, "x = 1");
  EXPECT_EQ(TlxResolveTextRef(0xFFFFFFFF), nullptr);
  const struct { uint32_t textId; uint8_t kind; bool found; } cases[] = {{6, 0, false}, {6, 1, true}, {6, 2, true}, {7, 1, false}};
  for (const auto& c : cases) {
    const TlxScriptReference ref{c.textId, c.kind};
    EXPECT_EQ(TlxResolveScriptRef(&ref), c.found ? TlxGetText(6) : nullptr) << c.textId << " kind " << int{c.kind};
  }
  EXPECT_EQ(TlxResolveScriptRef(nullptr), nullptr);
  EXPECT_TRUE(TlxGetText(7) == nullptr && TlxGetTextEncoding(7) == 0 && TlxResolveTextRef(7) == nullptr);
}

TEST(RecordedNames, ReadBackOnlyWhenFlagBitOneIsSet) {
  for (const uint8_t flags : {0, 1, 2}) {
    ASSERT_TRUE(StartLibrary(flags));
    TlxBeginClassType(0xFFFF);
    TlxAddClassMember("Speed", kDWord, 1);
    TlxEndClassType("Vehicle", 12);
    for (const char* name : {"Speed", "Vehicle"}) {
      const char* back = TlxDebug_TryGetString(TlxCalculateTextId(name));
      EXPECT_STREQ(back, flags == 1 ? name : nullptr) << int{flags};
    }
    EXPECT_EQ(TlxDebug_TryGetString(TlxCalculateTextId("never recorded")), nullptr);
    TlxShutdown();
  }
}

// A blob holds a copy; a second create of its id keeps the first; size 0 has no bytes; created
// without bytes it is written piece by piece until full, a piece that would pass its size refused.
TEST_F(TextBlobTest, BlobsHoldCopiesOrAreWrittenPieceByPiece) {
  uint8_t bytes[16] = {1, 2, 3, 4, 5};
  TlxCreateBlob(3, bytes, 5);
  TlxBlob* blob = TlxGetBlob(3);
  TlxCreateBlob(3, bytes + 1, 3);
  bytes[0] = 9;
  EXPECT_EQ(TlxGetBlob(3), blob);
  EXPECT_EQ(blob->size, 5u);
  EXPECT_EQ(Bytes(blob->data, 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(FindUnfilledBlob(Repo(), 3), nullptr);
  TlxCreateBlob(1, bytes, 0);
  TlxCreateBlob(2, nullptr, 0);
  for (uint32_t id : {1u, 2u}) {
    const uint8_t* data = TlxGetBlob(id)->data;  // a packed field: read it before comparing
    EXPECT_TRUE(TlxGetBlob(id)->size == 0 && data == nullptr);
  }
  CBlob_Internal* open = CreateBlob(Repo(), 4, nullptr, 16);
  EXPECT_EQ(FindUnfilledBlob(Repo(), 4), open);
  for (uint8_t i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(i * 3);
  EXPECT_EQ(open->WriteBytes(bytes, 5), 5u);
  EXPECT_EQ(open->GetRemaining(), 11u);
  EXPECT_EQ(open->WriteBytes(bytes + 5, 12), 0u);
  EXPECT_EQ(open->WriteBytes(bytes + 5, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(open->WriteBytes(bytes + 5, 11), 11u);
  EXPECT_EQ(open->WriteBytes(bytes, 1), 0u);
  EXPECT_EQ(FindUnfilledBlob(Repo(), 4), nullptr);
  EXPECT_EQ(Bytes(TlxGetBlob(4)->data, 16), Bytes(bytes, 16));
  EXPECT_EQ(CreateBlob(Repo(), 4, nullptr, 8), nullptr);
  EXPECT_EQ(Repo().Index().blobs.count, 4u);
}

TEST_F(TextBlobTest, BlobReferencesResolveOnlyWithTheBlobKind) {
  TlxCreateBlob(8, "abcd", 4);
  for (uint8_t kind = 0; kind < 8; ++kind) {
    const TlxReference ref{8, kind};
    EXPECT_EQ(TlxResolveBlobRef(&ref), kind == 5 ? TlxGetBlob(8) : nullptr) << int{kind};
  }
  const TlxReference absent{9, 5};
  EXPECT_TRUE(TlxResolveBlobRef(&absent) == nullptr && TlxResolveBlobRef(nullptr) == nullptr && TlxGetBlob(9) == nullptr);
}

// Walks visit by region in pool order; texts and blobs go with their region, their ids free again.
TEST_F(TextBlobTest, TextsAndBlobsGoWithTheirRegion) {
  TlxCreateText(1, "kept");
  TlxCreateBlob(1, "x", 1);
  TlxBeginRegionWithId(3);
  TlxCreateText(2, "dropped");
  TlxCreateText(3, std::string(2000, 'z').c_str());
  TlxCreateBlob(2, "yy", 2);
  TlxEndRegion();
  std::vector<uint32_t> texts, blobs;
  WalkTexts(Repo(), 3, [&](CText_Internal& text) { return texts.push_back(text.GetId()), true; });
  WalkBlobs(Repo(), kAllRegions, [&](CBlob_Internal& blob) { return blobs.push_back(blob.GetId()), true; });
  EXPECT_EQ(texts, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(blobs, (std::vector<uint32_t>{1, 2}));
  TlxDropRegionData(3);
  EXPECT_FALSE(TlxIsTextRegistered(2) || TlxIsTextRegistered(3) || TlxIsBlobRegistered(2));
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(1)), "kept");
  EXPECT_TRUE(TlxIsBlobRegistered(1));
  TlxCreateBlob(2, "z", 1);
  EXPECT_EQ(TlxGetBlob(2)->size, 1u);
}

void ExpectTextExportsAbsent() {
  const uint64_t before = Counters().allocateCalls.load();
  TlxCreateText(1, "text");
  TlxCreateTextWithEncoding(2, u"text", 1);
  EXPECT_FALSE(TlxIsTextRegistered(1));
  EXPECT_TRUE(TlxGetText(1) == nullptr && TlxGetTextEncoding(2) == 0 && TlxResolveTextRef(1) == nullptr);
  const TlxScriptReference script{1, 1};
  EXPECT_EQ(TlxResolveScriptRef(&script), nullptr);
  EXPECT_EQ(TlxDebug_TryGetString(TlxCalculateTextId("text")), nullptr);
  TlxCreateBlob(3, "abcd", 4);
  EXPECT_FALSE(TlxIsBlobRegistered(3));
  EXPECT_EQ(TlxGetBlob(3), nullptr);
  const TlxReference ref{3, 5};
  EXPECT_EQ(TlxResolveBlobRef(&ref), nullptr);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

TEST(TextBlobExports, GiveAbsentResultsBeforeStartAndAfterShutdown) {
  ExpectTextExportsAbsent();
  ASSERT_TRUE(StartLibrary(1));
  TlxCreateText(1, "text");
  TlxCreateBlob(3, "abcd", 4);
  TlxShutdown();
  ExpectTextExportsAbsent();
}

}  // namespace
