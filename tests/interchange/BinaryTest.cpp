// The binary form: its layout, block splitting, byte order 1, round trips through the
// Repository, and damaged input that must end the import cleanly at the damaged block.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/interchange/BinaryTestSupport.h"
#include "tests/repository/ItemTestSupport.h"
#include "tests/support/CountingAllocator.h"

namespace {

using QuorinTest::ExportBinary;
using QuorinTest::ImportBinary;


class BinaryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QuorinTest::StartLibrary(1)); }
  void TearDown() override { TlxShutdown(); }
  static void Restart(uint8_t flags = 1) {
    TlxShutdown();
    ASSERT_TRUE(QuorinTest::StartLibrary(flags));
  }
};

uint32_t Load32(const std::string& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

struct SBlock {
  uint8_t kind;
  uint32_t count;
  size_t at;  // offset of the block header
  uint32_t size;
};

std::vector<SBlock> Blocks(const std::string& file) {
  std::vector<SBlock> blocks;
  for (size_t at = 12; at + 8 <= file.size();) {
    uint16_t count;
    std::memcpy(&count, file.data() + at + 2, 2);
    blocks.push_back({static_cast<uint8_t>(file[at]), count, at, Load32(file, at + 4)});
    at += 8 + blocks.back().size;
  }
  return blocks;
}

TEST_F(BinaryTest, HeaderAndOneBlockPerSectionInFileOrder) {
  const std::string classesOnly = ExportBinary(8192, 1);
  EXPECT_EQ(classesOnly, std::string("TLXC\x01\x01\x02\x01\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 20));
  std::string kinds;
  for (const SBlock& block : Blocks(ExportBinary(0))) kinds += static_cast<char>('a' + block.kind);
  EXPECT_EQ(kinds, "abcfdgehijkl");
  EXPECT_EQ(Load32(ExportBinary(0), 8), 8192u);
  const std::string swapped = ExportBinary(1024, 1, 1);
  EXPECT_EQ(swapped.substr(0, 12), std::string("CXLT\x01\x01\x01\x02\x00\x00\x04\x00", 12));
}

TEST_F(BinaryTest, ObjectBlockHoldsRecordsThenClassDataThenTemplateData) {
  QuorinTest::BuildRichRepository();
  const std::string file = ExportBinary(8192, 4);
  const SBlock block = Blocks(file)[0];
  ASSERT_EQ(block.kind, 2);
  ASSERT_EQ(block.count, 2u);  // 0x10 (class 54 bytes, template 5) and 0x11 (nothing registered)
  ASSERT_EQ(block.size, 2 * 16 + 54 + 5u);
  const size_t records = block.at + 8;
  EXPECT_EQ(Load32(file, records), 0x10u);
  EXPECT_EQ(Load32(file, records + 16 + 8), 0x999u);
  EXPECT_EQ(std::memcmp(file.data() + records + 32, TlxGetCMember(TlxGetPrototype(0x10), 0), 54), 0);
  EXPECT_EQ(Load32(file, records + 32 + 54), 0x30u);  // the template's ListReference
}

TEST_F(BinaryTest, ByteOrderOneSwapsEveryFieldAndItemAndTheReaderRefusesIt) {
  QuorinTest::BuildRichRepository();
  const std::string little = ExportBinary(8192, 5);
  const std::string big = ExportBinary(8192, 5, 1);
  ASSERT_EQ(little.size(), big.size());
  const SBlock classes = Blocks(little)[0];
  EXPECT_EQ(Load32(big, classes.at + 8), __builtin_bswap32(0x0102));
  EXPECT_EQ(Load32(big, classes.at + 12), __builtin_bswap32(TlxCalculateTextId("K")));
  const SBlock objects = Blocks(little)[1];
  const size_t data = objects.at + 8 + 32;
  EXPECT_EQ(big.substr(data, 2), little.substr(data + 1, 1) + little.substr(data, 1));      // Word
  EXPECT_EQ(Load32(big, data + 14), __builtin_bswap32(Load32(little, data + 14)));          // Reference id
  EXPECT_EQ(big[data + 18], little[data + 18]);                                            // its kind
  const Quorin::SBinaryReadResult result = ImportBinary(big);
  EXPECT_EQ(result.code, 4u);
  EXPECT_EQ(result.bytes, 0u);
}

TEST_F(BinaryTest, BlocksSplitAtTheBlockSizeAndLargeRecordsTakeTheirOwn) {
  const std::string big(20000, 'x');
  for (uint32_t id = 0; id < 10000; ++id) TlxCreateText(id, "abc");
  TlxCreateText(10000, big.c_str());
  for (const uint32_t blockSize : {1024u, 8192u, 0u}) {
    SCOPED_TRACE(blockSize);
    const uint32_t limit = blockSize == 0 ? 8192 : blockSize;
    uint32_t texts = 0;
    for (const SBlock& block : Blocks(ExportBinary(blockSize, 1u << 4))) {
      EXPECT_EQ(block.kind, 4);
      EXPECT_TRUE(block.size <= limit || block.count == 1);
      texts += block.count;
    }
    EXPECT_EQ(texts, 10001u);
  }
}

// XML imported, written in the binary form, imported again and written as XML gives the same
// bytes, and the binary file written again is the same file. The binary form carries no names,
// so the Repository records none.
TEST_F(BinaryTest, XmlToBinaryToXmlIsByteIdentical) {
  TlxShutdown();
  ASSERT_TRUE(QuorinTest::StartLibrary(0));
  QuorinTest::BuildRichRepository();
  // Past the reader's first buffer, in many blocks and in one.
  for (uint32_t id = 100; id < 8100; ++id) TlxCreateText(id, "a text long enough to fill blocks quickly");
  std::vector<uint8_t> large(300000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  TlxCreateBlob(9, large.data(), static_cast<uint32_t>(large.size()));
  const std::u32string wide(1500, U'\u20AC');
  TlxCreateTextWithEncoding(9, wide.c_str(), 2);
  const std::string xml = QuorinTest::ExportXml();
  for (const uint32_t blockSize : {1024u, 8192u, 0u, 1u}) {
    SCOPED_TRACE(blockSize);
    Restart(0);
    QuorinTest::CMemorySource source(xml);
    ASSERT_FALSE(Quorin::ImportXmlInterchange(*Quorin::Repository::Get(), source, 0).malformed);
    const std::string file = ExportBinary(blockSize);
    Restart(0);
    Quorin::CInterchangeProgress progress;
    const Quorin::SBinaryReadResult result = ImportBinary(file, &progress);
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(result.bytes, file.size());
    EXPECT_EQ(progress.GetCounter(), static_cast<float>(file.size()));
    EXPECT_TRUE(QuorinTest::ExportXml() == xml);
    EXPECT_TRUE(ExportBinary(blockSize) == file);
  }
}

// Hands on nothing; remembers the variable records and counts every record.
struct CRecorder final : Quorin::IBinaryRecordHandler {
  void OnType(Quorin::ETypeKind, uint16_t, uint32_t, const TlxMember*, uint32_t, const uint32_t*, uint32_t) override {
    ++records;
  }
  uint32_t GetTypeSize(Quorin::ETypeKind kind, uint16_t id) override {
    return Quorin::GetTypeSize(*Quorin::Repository::Get(), kind, id);
  }
  void OnObject(bool, uint32_t, uint32_t, uint16_t, uint16_t, const uint8_t*, uint32_t, const uint8_t*,
                uint32_t) override {
    ++records;
  }
  void OnList(bool, uint32_t, uint32_t, const TlxReference*, uint32_t) override { ++records; }
  void OnText(uint32_t, uint32_t, const void*, uint32_t) override { ++records; }
  void OnBlob(uint32_t, const uint8_t*, uint32_t) override { ++records; }
  void OnVariable(const Quorin::SBinaryVariable& v) override {
    ++records;
    variables.push_back(std::to_string(static_cast<int>(v.block)) + " " + Hex(v.id) + " " + Hex(v.value) + " " +
                        Hex(v.binding) + " " + Hex(v.target) + " " + std::to_string(v.targetKind) + " " +
                        std::to_string(v.valueKind) + (v.text != nullptr ? std::string(" ") + v.text : ""));
  }
  static std::string Hex(uint32_t value) { return QuorinTest::Hex(value); }
  uint32_t records = 0;
  std::vector<std::string> variables;
};

Quorin::SBinaryReadResult Decode(const std::string& bytes, CRecorder& recorder) {
  QuorinTest::CMemorySource source(bytes);
  return Quorin::DecodeBinaryInterchange(source, recorder);
}

TEST_F(BinaryTest, VariableRecordsOfEveryKindAndStore) {
  QuorinTest::BuildRichRepository();
  const std::string longText(3000, 's');
  QuorinTest::Script(("long = \"" + longText + "\"").c_str());
  CRecorder recorder;
  const std::string file = ExportBinary(1024, 3u << 6);
  ASSERT_EQ(Decode(file, recorder).code, 0u);
  const auto id = [](const char* name) { return CRecorder::Hex(TlxCalculateTextId(name)); };
  const std::string ns = id("ns");
  for (const std::string& expected :
       {"8 " + id("g") + " 0x5 0x0 0x0 0 2", "8 " + id("fl") + " 0xBFC00000 0x0 0x0 0 3",
        "8 " + id("yes") + " 0x1 0x0 0x0 0 1", "8 " + id("s") + " 0x6 0x0 0x0 0 4 plain",
        "8 " + id("s2") + " 0x6 0x0 0x0 0 4 a]]>b", "8 " + id("nothing") + " 0xFFFFFFFF 0x0 0x0 0 5",
        "8 " + id("rn") + " " + id("v") + " 0x0 " + ns + " 0 0", "8 " + id("ri") + " " + id("iv") + " 0x0 0x20 2 0",
        "8 " + id("rp") + " " + id("pv") + " 0x0 0x10 1 0", "8 " + id("rg") + " " + id("g") + " 0x0 0xFFFFFFFF 0 0",
        "9 " + id("v") + " 0x7 " + ns + " 0x0 0 2", "10 " + id("pv") + " 0x1 0x10 0x0 0 2",
        "11 " + id("iv") + " 0x2 0x20 0x0 0 2", "8 " + id("long") + " 0xBB9 0x0 0x0 0 4 " + longText}) {
    EXPECT_NE(std::find(recorder.variables.begin(), recorder.variables.end(), expected), recorder.variables.end())
        << expected;
  }
  for (const SBlock& block : Blocks(file)) EXPECT_TRUE(block.size <= 1024 || block.count == 1);
}

// Records a prefix of the file hands on: those of the blocks it holds whole, and only those.
TEST_F(BinaryTest, TruncatedFilesKeepTheirWholeBlocksAndReportTheRest) {
  QuorinTest::BuildRichRepository();
  const std::string file = ExportBinary(64);
  const std::vector<SBlock> blocks = Blocks(file);
  for (size_t length = 0; length < file.size(); ++length) {
    uint32_t whole = 0;
    bool boundary = length == 12;
    for (const SBlock& block : blocks) {
      if (block.at + 8 + block.size <= length) whole += block.count;
      boundary = boundary || block.at + 8 + block.size == length;
    }
    CRecorder recorder;
    const Quorin::SBinaryReadResult result = Decode(file.substr(0, length), recorder);
    ASSERT_EQ(result.code, boundary ? 0u : 4u) << length;
    ASSERT_EQ(recorder.records, whole) << length;
  }
}

TEST_F(BinaryTest, CorruptedCountsSizesAndCodesEndTheImportAtTheirBlock) {
  QuorinTest::BuildRichRepository();
  const std::string file = ExportBinary(8192);
  // Field offsets inside the file to overwrite: each block's count and size, and the first
  // word of its first record (ids, counts, text words).
  std::vector<size_t> fields;
  for (const SBlock& block : Blocks(file)) {
    for (const size_t at : {block.at + 2, block.at + 4, block.at + 8, block.at + 12, block.at + 16}) {
      if (at + 4 <= file.size()) fields.push_back(at);
    }
  }
  for (const size_t at : fields) {
    for (const uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x10000u}) {
      std::string damaged = file;
      std::memcpy(damaged.data() + at, &value, 4);
      Restart();
      const Quorin::SBinaryReadResult result = ImportBinary(damaged);
      EXPECT_LE(result.bytes, file.size());
      EXPECT_TRUE(result.code == 0 || result.code == 4);
    }
  }
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string noise = file.substr(0, 12 + round % 40);
    for (int i = 0; i < round * 4; ++i) noise += static_cast<char>(random());
    Restart();
    EXPECT_LE(ImportBinary(noise).bytes, noise.size());
  }
}

TEST_F(BinaryTest, HeadersThatAreNotReadImportNothing) {
  CRecorder recorder;
  const std::string good = std::string("TLXC\x01\x01\x00\x00\x00\x20\x00\x00", 12) + std::string("\x08\0\x01\0\x12\0\0\0", 8) +
                           std::string(18, '\0');
  EXPECT_EQ(Decode(good, recorder).code, 0u);
  for (const std::string& bad : {"TLXD\x01\x01" + good.substr(6), "TLXC\x02\x00" + good.substr(6),
                                 "TLXC\x01\x02" + good.substr(6), std::string("TLX"), std::string()}) {
    EXPECT_EQ(Decode(bad, recorder).code, 4u) << bad;
  }
  EXPECT_EQ(Decode(std::string("TLXC\x00\x05", 6) + good.substr(6), recorder).code, 0u);  // version 0: nothing
  EXPECT_EQ(recorder.records, 1u);
}

// The reader remembers type sizes while it reads; a class registered halfway through the file
// must size the objects after it, and only those.
TEST_F(BinaryTest, ClassRegisteredAfterItsFirstObjectsSizesTheObjectsAfterIt) {
  const auto words = [](std::initializer_list<uint32_t> values) {
    std::string bytes;
    for (const uint32_t value : values) bytes.append(reinterpret_cast<const char*>(&value), 4);
    return bytes;
  };
  const std::string header("TLXC\x01\x01\x00\x00\x00\x20\x00\x00", 12);
  const std::string before = std::string("\x02\x00\x01\x00", 4) + words({16, 1, 0, 7, 0xFFFF});
  const std::string classes = std::string("\x00\x00\x01\x00", 4) + words({24, 7, 0x1234, 1, 0, 0x55, 5 | 1 << 5});
  const std::string after = std::string("\x02\x00\x01\x00", 4) + words({20, 2, 0, 7, 0xFFFF, 0xCAFE});
  const Quorin::SBinaryReadResult result = ImportBinary(header + before + classes + after);
  EXPECT_EQ(result.code, 0u) << result.expected;
  Quorin::Repository& repository = *Quorin::Repository::Get();
  ASSERT_NE(Quorin::FindPrototype(repository, 1), nullptr);
  EXPECT_EQ(Quorin::FindPrototype(repository, 1)->DataSize(Quorin::EDataKind::kClass), 0u);
  const Quorin::CObject_Internal* sized = Quorin::FindPrototype(repository, 2);
  ASSERT_NE(sized, nullptr);
  ASSERT_EQ(sized->DataSize(Quorin::EDataKind::kClass), 4u);
  EXPECT_EQ(Load32(std::string(static_cast<const char*>(sized->classData), 4), 0), 0xCAFEu);
}

TEST_F(BinaryTest, OutOfMemoryLeavesNothingHalfWritten) {
  QuorinTest::BuildRichRepository();
  const std::string expected = ExportBinary(256);
  QuorinTest::ForEachAllocationFailure([&] { EXPECT_EQ(ExportBinary(256), expected); });
  Restart();
  QuorinTest::ForEachAllocationFailure([&] { EXPECT_EQ(ImportBinary(expected).code, 0u); });
}

}  // namespace
