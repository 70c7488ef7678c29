// Texts and blobs seen from inside: texts of a given capacity filled piece by piece in every
// encoding, the bounds of AppendBytes and WriteBytes, the import's look-ups of unfilled items,
// and walks.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/Repository.h"
#include "repository/Texts.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace Quorin;
using QuorinTest::LibraryTest;

Repository& Repo() { return *Repository::Get(); }

using TextInternalTest = LibraryTest;
using BlobInternalTest = LibraryTest;

// ---- AppendBytes -------------------------------------------------------------------------------

struct AppendCase {
  const char* name;
  uint32_t encoding;
  uint32_t capacity;
  std::vector<uint32_t> counts;    // bytes of each append, taken from "abcdefgh..." in order
  std::vector<uint32_t> results;   // what each append answers
  uint32_t writtenAfter;
};

class AppendTest : public TextInternalTest, public testing::WithParamInterface<AppendCase> {};

TEST_P(AppendTest, AppendsOnlyWhatFitsWithItsTerminator) {
  const AppendCase& c = GetParam();
  CText_Internal* text = CreateTextWithCapacity(Repo(), 1, c.capacity, c.encoding);
  const uint32_t unit = Bravik::UnitSize(c.encoding);
  // Terminated from the start: it reads as the empty text.
  if (c.capacity != 0) {
    EXPECT_TRUE(Bravik::CString(text->GetBytes(), c.encoding).IsEmpty());
  }

  std::vector<uint8_t> source(64);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>('a' + i % 26);
  std::vector<uint8_t> expected;
  uint32_t taken = 0;
  for (size_t i = 0; i < c.counts.size(); ++i) {
    EXPECT_EQ(text->AppendBytes(source.data() + taken, c.counts[i]), c.results[i]) << "append " << i;
    if (c.results[i] != 0) {
      expected.insert(expected.end(), source.begin() + taken, source.begin() + taken + c.counts[i]);
      taken += c.counts[i];
    }
  }
  EXPECT_EQ(text->GetWritten(), c.writtenAfter);
  expected.insert(expected.end(), unit, 0);
  if (!expected.empty() && c.capacity != 0) {
    EXPECT_EQ(QuorinTest::Bytes(text->GetBytes(), expected.size()), expected);
  }
  EXPECT_EQ(FindUnfilledText(Repo(), 1), text->IsFilled() ? nullptr : text);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, AppendTest,
    testing::Values(
        AppendCase{"Utf8Pieces", 0, 6, {3, 2, 1}, {3, 2, 0}, 6},
        AppendCase{"Utf8NoRoomForTerminator", 0, 6, {6, 5}, {0, 5}, 6},
        AppendCase{"Utf8Partial", 0, 10, {4}, {4}, 4},
        AppendCase{"Utf8HugeCount", 0, 10, {0xFFFFFFFFu, 2}, {0, 2}, 2},
        AppendCase{"Utf8ZeroCapacity", 0, 0, {0, 1}, {0, 0}, 0},
        AppendCase{"Utf16Pieces", 1, 10, {4, 4, 2}, {4, 4, 0}, 10},
        AppendCase{"Utf16OddCapacity", 1, 7, {4, 2}, {4, 0}, 4},
        AppendCase{"Utf32Pieces", 2, 12, {4, 4, 4}, {4, 4, 0}, 12},
        AppendCase{"Utf32TooLong", 2, 12, {12, 8}, {0, 8}, 12}),
    [](const testing::TestParamInfo<AppendCase>& c) { return c.param.name; });

TEST_F(TextInternalTest, CloseEndsAppending) {
  CText_Internal* text = CreateTextWithCapacity(Repo(), 2, 100, Bravik::kUtf8);
  text->AppendBytes("abc", 3);
  EXPECT_EQ(text->Close(), 3u);
  EXPECT_EQ(text->GetCapacity(), 3u);
  EXPECT_EQ(text->AppendBytes("d", 1), 0u);
  EXPECT_EQ(FindUnfilledText(Repo(), 2), nullptr);
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(2)), "abc");
}

TEST_F(TextInternalTest, WholeTextsAreFilledAndRefuseAppends) {
  TlxCreateText(3, "done");
  CText_Internal* text = FindText(Repo(), 3);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetCapacity(), 5u);
  EXPECT_EQ(text->GetWritten(), 5u);
  EXPECT_EQ(text->AppendBytes("x", 1), 0u);
  EXPECT_EQ(FindUnfilledText(Repo(), 3), nullptr);
  // A UTF-16 text of two characters takes six bytes.
  TlxCreateTextWithEncoding(7, u"hi", 1);
  EXPECT_EQ(FindText(Repo(), 7)->GetCapacity(), 6u);
}

// A long text gets a block of its own and is filled in pieces across the 1024-byte mark.
TEST_F(TextInternalTest, LongTextFilledInPieces) {
  const std::string content(4999, 'q');
  CText_Internal* text = CreateTextWithCapacity(Repo(), 4, 5000, Bravik::kUtf8);
  for (size_t at = 0; at < content.size(); at += 700) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(700, content.size() - at));
    ASSERT_EQ(text->AppendBytes(content.data() + at, piece), piece);
  }
  EXPECT_TRUE(text->IsFilled());
  EXPECT_EQ(std::string(static_cast<const char*>(TlxGetText(4))), content);
}

TEST_F(TextInternalTest, RepeatedIdFindsTheOpenText) {
  TlxCreateText(5, "closed");
  CText_Internal* open = CreateTextWithCapacity(Repo(), 5, 8, Bravik::kUtf8);
  EXPECT_EQ(FindUnfilledText(Repo(), 5), open);
}

// ---- Blobs -------------------------------------------------------------------------------------

TEST_F(BlobInternalTest, WrittenPieceByPieceUntilFull) {
  CBlob_Internal* blob = CreateBlob(Repo(), 3, nullptr, 16);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(FindUnfilledBlob(Repo(), 3), blob);
  uint8_t bytes[16];
  for (uint8_t i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(i * 3);
  EXPECT_EQ(blob->WriteBytes(bytes, 5), 5u);
  EXPECT_EQ(blob->GetRemaining(), 11u);
  EXPECT_EQ(blob->WriteBytes(bytes + 5, 12), 0u);  // would pass the size: nothing written
  EXPECT_EQ(blob->WriteBytes(bytes + 5, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(blob->WriteBytes(bytes + 5, 11), 11u);
  EXPECT_EQ(blob->GetRemaining(), 0u);
  EXPECT_EQ(blob->WriteBytes(bytes, 1), 0u);
  EXPECT_EQ(FindUnfilledBlob(Repo(), 3), nullptr);
  EXPECT_EQ(QuorinTest::Bytes(TlxGetBlob(3)->data, 16), QuorinTest::Bytes(bytes, 16));
}

TEST_F(BlobInternalTest, ExistingIdIsRefused) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  CBlob_Internal* first = CreateBlob(Repo(), 1, bytes, 4);
  EXPECT_EQ(FindUnfilledBlob(Repo(), 1), nullptr);  // filled at creation
  EXPECT_EQ(CreateBlob(Repo(), 1, nullptr, 8), nullptr);
  EXPECT_EQ(FindBlob(Repo(), 1), first);
  EXPECT_EQ(Repo().Index().blobs.count, 1u);
}

// ---- Walks -------------------------------------------------------------------------------------

TEST_F(TextInternalTest, WalksVisitTextsAndBlobsByRegion) {
  TlxCreateText(1, "a");
  TlxCreateBlob(1, "x", 1);
  TlxBeginRegionWithId(3);
  TlxCreateText(2, "b");
  TlxCreateText(3, "c");
  TlxCreateBlob(2, "y", 1);
  TlxEndRegion();
  std::vector<uint32_t> texts, blobs;
  WalkTexts(Repo(), 3, [&](CText_Internal& text) { return texts.push_back(text.GetId()), true; });
  WalkBlobs(Repo(), kAllRegions, [&](CBlob_Internal& blob) { return blobs.push_back(blob.GetId()), true; });
  EXPECT_EQ(texts, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(blobs, (std::vector<uint32_t>{1, 2}));
}

}  // namespace
