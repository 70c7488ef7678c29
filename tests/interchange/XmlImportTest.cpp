// The XML import: files written by the writer read back to the same file (every element kind,
// both byte orders, with and without recorded names, sections and regions alone, tiny read
// buffers), bad input that ends with a clear outcome and keeps what came before, and the
// exports with their kept outcome.
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "interchange/XmlImporter.h"
#include "repository/Objects.h"
#include "tests/interchange/ExportTestSupport.h"
#include "tests/repository/ItemTestSupport.h"
#include "tests/support/CountingAllocator.h"

namespace {

using QuorinTest::ExportXml;

struct CStringSource final : Quorin::IByteSource {
  explicit CStringSource(std::string text) : bytes(std::move(text)) {}
  size_t Read(void* buffer, size_t size) override {
    const size_t count = std::min(size, bytes.size() - at);
    std::memcpy(buffer, bytes.data() + at, count);
    at += count;
    return count;
  }
  bool Rewind() override {
    at = 0;
    return true;
  }
  uint64_t GetSize() override { return bytes.size(); }
  std::string bytes;
  size_t at = 0;
};

Quorin::SImportOutcome Import(const std::string& file, uint32_t bufferSize = 8192) {
  CStringSource source(file);
  return Quorin::ImportXmlInterchange(*Quorin::Repository::Get(), source, bufferSize);
}

// Items the Repository holds, of every kind the file carries.
uint64_t CountItems() {
  const Quorin::RepositoryIndex& index = Quorin::Repository::Get()->Index();
  Quorin::Sprig::CScriptState& state = Quorin::Repository::Get()->Scripts().State();
  return index.classes.count + index.templates.count + index.prototypes.count + index.instances.count +
         index.texts.count + index.listPrototypes.count + index.listInstances.count + index.blobs.count +
         state.GetGlobals().GetCount() + state.GetNamespaceCount();
}

// A class with one member of every type (two items each, at both ends of their range) and a
// list of every reference kind, beside the rich Repository of the writer tests.
void AddEveryMemberType() {
  std::vector<TlxMember> members;
  std::vector<uint8_t> data;
  const auto put = [&](const auto& value) {
    data.insert(data.end(), reinterpret_cast<const uint8_t*>(&value), reinterpret_cast<const uint8_t*>(&value) + sizeof value);
  };
  for (uint32_t code = 0; code < 19; ++code) members.push_back({0x100u + code, 2u << 5 | code});
  put(int8_t{-128}), put(int8_t{127}), put(uint8_t{0}), put(uint8_t{255});
  put(int16_t{-32768}), put(int16_t{32767}), put(uint16_t{0}), put(uint16_t{65535});
  put(INT32_MIN), put(INT32_MAX), put(0u), put(UINT32_MAX);
  put(INT64_MIN), put(INT64_MAX), put(uint64_t{0}), put(UINT64_MAX);
  put(0.014668f), put(-1e-30f), put(0.1), put(-1e-300);  // texts the nearest value would not give back
  for (uint32_t id = 0; id < 12; ++id) put(id * 0x01020304u);  // the six id types
  for (uint8_t kind = 0; kind < 6; ++kind) put(TlxReference{0x1000u + kind, kind});
  TlxRegisterClassType("All", 0x0200, members.data(), static_cast<uint32_t>(members.size()));
  TlxCreatePrototype(0x40, 0x0200, 0xFFFF);
  TlxStorePrototypeClassData(0x40, data.data(), static_cast<uint32_t>(data.size()));
  const TlxReference entries[6] = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}};
  TlxCreateListPrototype(0x41, entries, 6);
  TlxCreateTextWithEncoding(0x42, U"\u00E9\U0001F600 wide ", 2);
}

class ImportTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QuorinTest::StartLibrary(1)); }
  void TearDown() override { TlxShutdown(); }
  static void Restart(uint8_t flags) {
    TlxShutdown();
    ASSERT_TRUE(QuorinTest::StartLibrary(flags));
  }
};

// ---- Round trips -----------------------------------------------------------------------------

struct SRoundTrip {
  const char* name;
  uint8_t startFlags;  // 1 records names
  uint32_t byteOrder;
  uint32_t sections;
  uint32_t bufferSize;
};

class RoundTripTest : public ImportTest, public testing::WithParamInterface<SRoundTrip> {};

TEST_P(RoundTripTest, ReadsBackToTheSameFile) {
  const SRoundTrip& c = GetParam();
  Restart(c.startFlags);
  QuorinTest::BuildRichRepository();
  AddEveryMemberType();
  const std::string types = ExportXml(3, c.byteOrder);
  const std::string written = ExportXml(c.sections, c.byteOrder);
  Restart(c.startFlags);
  // A section without the types it needs reads against the types imported first.
  if ((c.sections & 3) == 0) {
    ASSERT_FALSE(Import(types).malformed);
  }
  const Quorin::SImportOutcome outcome = Import(written, c.bufferSize);
  EXPECT_FALSE(outcome.malformed) << outcome.expected;
  EXPECT_EQ(outcome.skipped, 0u);
  EXPECT_EQ(outcome.bytes, written.size());
  EXPECT_EQ(ExportXml(c.sections, c.byteOrder), written);
}

INSTANTIATE_TEST_SUITE_P(
    Import, RoundTripTest,
    testing::Values(SRoundTrip{"Names", 1, 0, 255, 8192}, SRoundTrip{"NoNames", 0, 0, 255, 8192},
                    SRoundTrip{"BigEndian", 1, 1, 255, 8192}, SRoundTrip{"BigEndianNoNames", 0, 1, 255, 8192},
                    SRoundTrip{"OneByteBuffer", 1, 0, 255, 1}, SRoundTrip{"OddBuffer", 0, 1, 255, 13},
                    SRoundTrip{"TypesAlone", 1, 0, 3, 8192}, SRoundTrip{"ObjectsAlone", 1, 0, 12, 8192},
                    SRoundTrip{"TextsAlone", 1, 0, 16, 8192}, SRoundTrip{"BlobsAlone", 1, 0, 32, 64},
                    SRoundTrip{"NoSections", 1, 0, 0, 8192}),
    [](const testing::TestParamInfo<SRoundTrip>& param) { return std::string(param.param.name); });

TEST_F(ImportTest, RegionAloneReadsBackAsItsOwnExport) {
  QuorinTest::BuildRichRepository();
  TlxBeginRegionWithId(4);
  TlxCreateText(0x99, "region four");
  TlxEndRegion();
  const std::string region = ExportXml(0x3F, 0, {4});
  Restart(1);
  ASSERT_FALSE(Import(region).malformed);
  EXPECT_EQ(ExportXml(0x3F), region);
}

TEST_F(ImportTest, LongTextsAndBlobsArriveWhole) {
  std::string text(100000, 'x');
  text[0] = ' ', text[50000] = '&', text.back() = '\n';
  std::vector<uint8_t> blob(70000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  TlxCreateText(1, text.c_str());
  TlxCreateBlob(2, blob.data(), static_cast<uint32_t>(blob.size()));
  const std::string written = ExportXml();
  Restart(1);
  ASSERT_FALSE(Import(written, 100).malformed);
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(1)), text.c_str());
  const TlxBlob* stored = TlxGetBlob(2);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(stored->data, stored->data + stored->size), blob);
}

TEST_F(ImportTest, OutOfMemoryLeavesNothingHalfBuiltOrLeaked) {
  QuorinTest::BuildRichRepository();
  const std::string written = ExportXml();
  QuorinTest::ForEachAllocationFailure([&] {
    TlxClearRepository();
    Import(written, 16);
  });
  EXPECT_EQ(ExportXml(), written);
}

// ---- Bad input -------------------------------------------------------------------------------

struct SBadInput {
  const char* name;
  const char* file;
  bool malformed;
  uint32_t skipped;
  const char* after;  // the file an export then writes (sections 0x3F), or null
};

const char kOpen[] = "<talvex><header><hexencoding>LittleEndian</hexencoding></header>";

class BadInputTest : public ImportTest, public testing::WithParamInterface<SBadInput> {};

TEST_P(BadInputTest, EndsClearlyAndKeepsWhatCameBefore) {
  const SBadInput& c = GetParam();
  const Quorin::SImportOutcome outcome = Import(c.file);
  EXPECT_EQ(outcome.malformed, c.malformed);
  EXPECT_EQ(outcome.skipped, c.skipped);
  if (c.after != nullptr) {
    const std::string all = ExportXml(0x3F);
    const size_t from = all.find("\t<classes>");
    EXPECT_EQ(all.substr(from, all.size() - from - 9), c.after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Import, BadInputTest,
    testing::Values(
        SBadInput{"Empty", "", true, 0, nullptr},
        SBadInput{"NoRoot", "<other><classes/></other>", true, 1, nullptr},
        SBadInput{"Truncated",
                  "<talvex><texts><text id=\"0x1\" size=\"2\">a</text><text id=\"0x2\" size=\"2\">b</te", true, 0,
                  "\t<classes>\n\t</classes>\n\t<templates>\n\t</templates>\n\t<prototypes>\n\t</prototypes>\n"
                  "\t<listprototypes>\n\t</listprototypes>\n\t<instances>\n\t</instances>\n\t<listinstances>\n"
                  "\t</listinstances>\n\t<texts>\n\t\t<text id=\"0x1\" size=\"2\">a</text>\n\t</texts>\n"
                  "\t<blobs>\n\t</blobs>\n"},
        SBadInput{"UnclosedRoot", "<talvex><texts><text id=\"0x1\">a</text></texts>", true, 0, nullptr},
        SBadInput{"StopsAtBrokenAttribute", "<talvex><texts><text id=\"1>a</text></texts></talvex>", true, 0,
                  nullptr},
        SBadInput{"MisplacedElements",
                  "<talvex><object id=\"0x1\"/><classes><template id=\"0x5\"/><x><class id=\"0x9\"/></x></classes>"
                  "<texts><blob id=\"0x1\" size=\"1\">00</blob></texts></talvex>",
                  false, 4,
                  "\t<classes>\n\t</classes>\n\t<templates>\n\t</templates>\n\t<prototypes>\n\t</prototypes>\n"
                  "\t<listprototypes>\n\t</listprototypes>\n\t<instances>\n\t</instances>\n\t<listinstances>\n"
                  "\t</listinstances>\n\t<texts>\n\t</texts>\n\t<blobs>\n\t</blobs>\n"},
        SBadInput{"LyingSizes",
                  "<talvex><prototypes><object id=\"0x1\" class=\"0x5\" template=\"0xFFFF\" csize=\"99999999999\" "
                  "tsize=\"-5\"><cdata><member id=\"0x1\" type=\"DWord\">7</member></cdata></object></prototypes>"
                  "<listprototypes><list id=\"0x2\" prototype=\"0xFFFFFFFF\" items=\"4000000000\">"
                  "<reference type=\"Blob\">0x3</reference></list></listprototypes>"
                  "<blobs><blob id=\"0x3\" size=\"4000000000\"><![CDATA[0A0B]]></blob>"
                  "<blob id=\"0x3\" size=\"2\"><![CDATA[0C0D]]></blob></blobs>"
                  "<texts><text id=\"0x4\" size=\"abc\">t</text></texts></talvex>",
                  false, 1, nullptr},
        SBadInput{"HugeNumbers",
                  "<talvex><classes><class id=\"0x123456789\" nameId=\"0x1\"><member id=\"0x2\" type=\"DWord\" "
                  "items=\"99999999999999999999999\"/><member id=\"0x3\" type=\"Word\" items=\"1\"/></class>"
                  "</classes></talvex>",
                  false, 1, nullptr}),
    [](const testing::TestParamInfo<SBadInput>& param) { return std::string(param.param.name); });

TEST_F(ImportTest, LyingSizesAreBoundedByTheFile) {
  const std::string file =
      "<talvex><prototypes><object id=\"0x1\" class=\"0x5\" template=\"0xFFFF\" csize=\"99999999999\" tsize=\"-5\">"
      "<cdata><member id=\"0x1\" type=\"DWord\">7</member></cdata></object></prototypes>"
      "<blobs><blob id=\"0x3\" size=\"4000000000\"><![CDATA[0A0B]]></blob></blobs></talvex>";
  ASSERT_FALSE(Import(file).malformed);
  TlxObject* object = TlxGetPrototype(1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(*static_cast<const int32_t*>(object->classData), 7);
  EXPECT_LE(Quorin::FindPrototype(*Quorin::Repository::Get(), 1)->DataSize(Quorin::EDataKind::kClass), 1u << 20);
  const TlxBlob* blob = TlxGetBlob(3);
  ASSERT_NE(blob, nullptr);
  EXPECT_LT(blob->size, file.size());
  EXPECT_EQ(blob->data[0], 0x0A);
  EXPECT_EQ(blob->data[2], 0);
}

TEST_F(ImportTest, TruncatedAnywhereKeepsEveryCompletedItem) {
  QuorinTest::BuildRichRepository();
  const std::string written = ExportXml();
  uint64_t before = 0;
  for (size_t length = 0; length < written.size(); length += 3) {
    TlxClearRepository();
    const Quorin::SImportOutcome outcome = Import(written.substr(0, length), 64);
    ASSERT_TRUE(outcome.malformed) << length;
    EXPECT_LE(outcome.offset, length);
    const uint64_t items = CountItems();
    EXPECT_GE(items, before) << length;  // a longer prefix never holds fewer items
    before = items;
  }
}

TEST_F(ImportTest, RandomBytesAndDeepNestingEndCleanly) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(1 + random() % 600, '\0');
    for (char& c : bytes) c = static_cast<char>("<>/=\"' abtalvex&;#x!-[]?\n\x80\xFF"[random() % 31]);
    if (round % 2 == 0) bytes = "<talvex>" + bytes;
    Import(bytes, 1 + random() % 64);
    TlxClearRepository();
  }
  std::string deep = "<talvex>";
  for (int i = 0; i < 5000; ++i) deep += "<texts>";
  deep += "<text id=\"0x1\">x</text>";
  for (int i = 0; i < 5000; ++i) deep += "</texts>";
  deep += "<texts><text id=\"0x2\">y</text></texts></talvex>";
  const Quorin::SImportOutcome outcome = Import(deep);
  EXPECT_FALSE(outcome.malformed);
  EXPECT_EQ(TlxGetText(1), nullptr);
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(2)), "y");
}

TEST_F(ImportTest, StrayEndTagsAndUnknownNamesKeepTheDocument) {
  const Quorin::SImportOutcome outcome = Import(
      "</talvex></x><talvex></nothing><classes><class id=\"0x9\" name=\"N\"><member id=\"0x1\" type=\"Nope\" "
      "items=\"2\"/></class></classes></talvex>");
  EXPECT_FALSE(outcome.malformed);
  EXPECT_EQ(TlxGetClassSizeByte(9), 2u);  // the unknown type name reads as Byte
}

TEST_F(ImportTest, VariablesOfMissingObjectsAreSkippedAndReferencesToThemInvalid) {
  const Quorin::SImportOutcome outcome = Import(
      "<talvex><variables><globals><variable id=\"0x1\" type=\"Reference\" instance=\"0x55\">0x2</variable>"
      "<variable id=\"0x3\" type=\"Reference\" namespace=\"0xFFFFFFFF\">0x4</variable>"
      "<variable id=\"0x5\" type=\"Unheard\">1</variable></globals>"
      "<instancebound><variable id=\"0x6\" binding=\"0x55\" type=\"Integer\">1</variable></instancebound>"
      "</variables></talvex>");
  EXPECT_FALSE(outcome.malformed);
  EXPECT_EQ(outcome.skipped, 2u);
  Quorin::Sprig::CWeakTypeMap& globals = Quorin::Repository::Get()->Scripts().State().GetGlobals();
  ASSERT_NE(globals.Find(1), nullptr);
  EXPECT_EQ(globals.Find(1)->kind, Quorin::Sprig::kSprigInvalid);
  ASSERT_NE(globals.Find(3), nullptr);
  EXPECT_EQ(globals.Find(3)->kind, Quorin::Sprig::kSprigReference);
  EXPECT_NE(globals.Find(4), nullptr);  // the target is created with the reference
}

// ---- The exports -----------------------------------------------------------------------------

struct SOutcome {
  TlxInterchangeResult result{};
  std::string message;
};

SOutcome Outcome(uint32_t direction) {
  SOutcome outcome;
  char message[256];
  EXPECT_TRUE(TlxGetInterchangeResult(direction, &outcome.result, message, sizeof message));
  outcome.message = message;
  return outcome;
}

std::string TempPath(const char* name) { return testing::TempDir() + name; }

TEST_F(ImportTest, ExportAndImportThroughFiles) {
  QuorinTest::BuildRichRepository();
  const std::string path = TempPath("quorin-import-test.xml");
  const TlxExportConfig exportConfig = TlxGetDefaultExportConfig(0);
  TlxExport(path.c_str(), &exportConfig);
  EXPECT_TRUE(TlxGetExportDone());
  EXPECT_EQ(TlxGetExportProgress(), 1.0f);
  const SOutcome exported = Outcome(0);
  EXPECT_EQ(exported.result.code, 0u) << exported.message;
  const std::string written = ExportXml();
  EXPECT_EQ(exported.result.bytes, written.size());
  Restart(1);
  const TlxImportConfig importConfig = TlxGetDefaultImportConfig(0);
  EXPECT_EQ(importConfig.readBufferSize, 8192u);
  TlxImport(path.c_str(), &importConfig);
  EXPECT_TRUE(TlxGetImportDone());
  const SOutcome imported = Outcome(1);
  EXPECT_EQ(imported.result.code, 0u) << imported.message;
  EXPECT_EQ(ExportXml(), written);
  std::remove(path.c_str());
}

struct SFailure {
  const char* name;
  uint32_t direction;
  std::string path;
  uint32_t format;
  uint32_t flags;
  uint32_t code;
};

class FailureTest : public ImportTest, public testing::WithParamInterface<SFailure> {};

TEST_P(FailureTest, IsKeptWithItsCode) {
  const SFailure& c = GetParam();
  TlxExportConfig exportConfig = TlxGetDefaultExportConfig(c.format);
  TlxImportConfig importConfig = TlxGetDefaultImportConfig(c.format);
  exportConfig.flags |= c.flags << 31;
  importConfig.flags |= c.flags;
  const char* path = c.path == "null" ? nullptr : c.path.c_str();
  if (c.direction == 0) TlxExport(path, &exportConfig);
  if (c.direction == 1) TlxImport(path, &importConfig);
  EXPECT_TRUE(c.direction == 0 ? TlxGetExportDone() : TlxGetImportDone());
  const SOutcome outcome = Outcome(c.direction);
  EXPECT_EQ(outcome.result.code, c.code) << outcome.message;
  EXPECT_FALSE(outcome.message.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Import, FailureTest,
    testing::Values(SFailure{"MissingFile", 1, "/nonexistent/quorin/file.xml", 0, 0, 2},
                    SFailure{"FolderAsPath", 1, "/tmp", 0, 0, 2},
                    SFailure{"UnwritableExport", 0, "/proc/quorin/unwritable.xml", 0, 0, 2},
                    SFailure{"FolderAsExport", 0, "/tmp", 0, 0, 2}, SFailure{"NullPath", 1, "null", 0, 0, 7},
                    SFailure{"UnknownFormat", 0, "/tmp/x.xml", 9, 0, 7},
                    SFailure{"BinaryMissing", 1, "/nonexistent/quorin/x.bin", 1, 0, 2},
                    SFailure{"BackgroundMissing", 1, "/nonexistent/quorin/x.xml", 0, 1, 2},
                    SFailure{"BackgroundUnwritable", 0, "/proc/quorin/x.bin", 1, 1, 2}),
    [](const testing::TestParamInfo<SFailure>& param) { return std::string(param.param.name); });

TEST_F(ImportTest, MalformedFileReportsLineAndOffset) {
  const std::string path = TempPath("quorin-malformed.xml");
  const std::string text = "<talvex>\n<texts>\n<text id=\"0x1\">kept</text>\n<text id=\"2>";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  const TlxImportConfig config = TlxGetDefaultImportConfig(0);
  TlxImport(path.c_str(), &config);
  const SOutcome outcome = Outcome(1);
  EXPECT_EQ(outcome.result.code, 4u);
  EXPECT_EQ(outcome.result.line, 4u);
  EXPECT_EQ(outcome.result.offset, text.size() - 1);
  EXPECT_NE(outcome.message.find("line 4"), std::string::npos) << outcome.message;
  EXPECT_STREQ(static_cast<const char*>(TlxGetText(1)), "kept");
  std::remove(path.c_str());
}

}  // namespace
