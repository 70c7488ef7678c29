// The export writer: the whole file of an empty Repository, the lines of every element kind in
// both byte orders, regions, progress, and failures of memory and of the sink.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/interchange/ExportTestSupport.h"
#include "tests/repository/ItemTestSupport.h"
#include "tests/support/CountingAllocator.h"

namespace {

using QuorinTest::ExportXml;
using QuorinTest::Hex;

class WriterTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QuorinTest::StartLibrary(1)); }
  void TearDown() override { TlxShutdown(); }
};

const char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- All node names and attributes are case sensitive -->\n"
    "<talvex>\n\t<header>\n\t\t<majorversion>1</majorversion>\n\t\t<minorversion>1</minorversion>\n"
    "\t\t<bundle>0</bundle>\n\t\t<hexencoding>LittleEndian</hexencoding>\n\t</header>\n";

TEST_F(WriterTest, EmptyRepositoryAllSectionsAndNone) {
  EXPECT_EQ(ExportXml(), std::string(kHeader) +
                             "\t<classes>\n\t</classes>\n\t<templates>\n\t</templates>\n\t<prototypes>\n\t</prototypes>\n"
                             "\t<listprototypes>\n\t</listprototypes>\n\t<instances>\n\t</instances>\n"
                             "\t<listinstances>\n\t</listinstances>\n\t<texts>\n\t</texts>\n\t<blobs>\n\t</blobs>\n"
                             "\t<variables>\n\t\t<globals>\n\t\t</globals>\n\t\t<prototypebound>\n\t\t</prototypebound>\n"
                             "\t\t<instancebound>\n\t\t</instancebound>\n\t</variables>\n</talvex>");
  EXPECT_EQ(ExportXml(0), std::string(kHeader) + "</talvex>");
}

// "{name}" stands for the hexadecimal hash of name, "{~name}" for it byte-swapped.
std::string Expand(const std::string& line) {
  std::string out;
  for (size_t at = 0;;) {
    const size_t open = line.find('{', at);
    out += line.substr(at, open - at);
    if (open == std::string::npos) return out;
    const size_t close = line.find('}', open);
    const bool swapped = line[open + 1] == '~';
    const uint32_t hash = TlxCalculateTextId(line.substr(open + 1 + swapped, close - open - 1 - swapped).c_str());
    out += Hex(swapped ? __builtin_bswap32(hash) : hash);
    at = close + 1;
  }
}

const char* const kLittleEndianLines[] = {
    "\t\t<class id=\"0x102\" name=\"K\">\n\t\t\t<!-- This block is order sensitive -->\n"
    "\t\t\t<member id=\"{w}\" type=\"Word\" items=\"1\"/>\n",
    "\t\t\t<member id=\"{none}\" type=\"DWord\" items=\"0\"/>\n\t\t</class>\n",
    "\t\t<template id=\"0x7\" name=\"T\">\n\t\t\t<!-- This block is order sensitive -->\n"
    "\t\t\t<feature id=\"{F<1>}\" name=\"F&lt;1&gt;\"/>\n\t\t\t<member id=\"{lr}\" name=\"lr\" type=\"ListReference\" "
    "items=\"1\"/>\n\t\t</template>\n",
    "\t\t<object id=\"0x10\" class=\"0x102\" template=\"0x7\" csize=\"54\" tsize=\"5\">\n\t\t\t<cdata>\n"
    "\t\t\t\t<member id=\"{w}\" type=\"Word\">258</member>\n\t\t\t\t<member id=\"{d3}\" type=\"DWord\">\n"
    "\t\t\t\t\t<a>-1</a>\n\t\t\t\t\t<a>0</a>\n\t\t\t\t\t<a>2147483647</a>\n\t\t\t\t</member>\n"
    "\t\t\t\t<member id=\"{ref}\" type=\"Reference\"><p type=\"UnsignedDWord\">0x10</p><p type=\"Reference\">"
    "Prototype</p></member>\n\t\t\t\t<member id=\"{f}\" type=\"Float\">1.5</member>\n"
    "\t\t\t\t<member id=\"{dbl}\" type=\"Double\">-0.25</member>\n\t\t\t\t<member id=\"{b}\" type=\"Byte\">-128</member>\n"
    "\t\t\t\t<member id=\"{uq}\" type=\"UnsignedQWord\">18446744073709551615</member>\n"
    "\t\t\t\t<member id=\"{txt}\" type=\"TextId\">0x1</member>\n\t\t\t\t<member id=\"{scr}\" type=\"ScriptReference\">\n"
    "\t\t\t\t\t<a><p type=\"UnsignedDWord\">0x2</p><p type=\"ScriptReference\">TalvexSprig</p></a>\n"
    "\t\t\t\t\t<a><p type=\"UnsignedDWord\">0x3</p><p type=\"ScriptReference\">9</p></a>\n\t\t\t\t</member>\n"
    "\t\t\t</cdata>\n\t\t\t<tdata>\n\t\t\t\t<member id=\"{lr}\" type=\"ListReference\"><p type=\"UnsignedDWord\">0x30</p>"
    "<p type=\"ListReference\">Prototype</p></member>\n\t\t\t</tdata>\n\t\t</object>\n"
    "\t\t<object id=\"0x11\" class=\"0x999\" template=\"0xFFFF\" csize=\"0\" tsize=\"0\">\n\t\t</object>\n",
    "\t\t<object id=\"0x20\" prototype=\"0x10\" class=\"0x102\" template=\"0x7\" csize=\"54\" tsize=\"5\">\n",
    "\t\t<list id=\"0x30\" prototype=\"0xFFFFFFFF\" items=\"3\">\n\t\t\t<reference type=\"Prototype\">0x10</reference>\n"
    "\t\t\t<reference type=\"Blob\">0x3</reference>\n\t\t\t<reference type=\"9\">0x77</reference>\n\t\t</list>\n",
    "\t\t<list id=\"0x31\" prototype=\"0x30\" items=\"3\">\n",
    "\t\t<text id=\"0x1\" size=\"8\">a&lt;b&gt;&amp;c&#10;</text>\n\t\t<text id=\"0x2\" size=\"4\">&#32;x&#9;</text>\n"
    "\t\t<text id=\"0x3\" size=\"6\">\xC3\xA9\xE2\x82\xAC</text>\n",
    "\t\t<blob id=\"0x3\" size=\"2\"><![CDATA[00AB]]></blob>\n",
    "\t\t\t<variable id=\"{g}\" name=\"g\" type=\"Integer\">5</variable>\n",
    "\t\t\t<variable id=\"{fl}\" name=\"fl\" type=\"Float\">-1.5</variable>\n",
    "\t\t\t<variable id=\"{yes}\" name=\"yes\" type=\"Boolean\">true</variable>\n",
    "\t\t\t<variable id=\"{s}\" name=\"s\" type=\"String\"><![CDATA[plain]]></variable>\n",
    "\t\t\t<variable id=\"{s2}\" name=\"s2\" type=\"String\">a]]&gt;b</variable>\n",
    "\t\t\t<variable id=\"{s3}\" name=\"s3\" type=\"String\">end]</variable>\n",
    "\t\t\t<variable id=\"{s4}\" name=\"s4\" type=\"String\">&#32;lead</variable>\n",
    "\t\t\t<variable id=\"{rn}\" name=\"rn\" type=\"Reference\" namespace=\"{ns}\">{v}</variable>\n",
    "\t\t\t<variable id=\"{ri}\" name=\"ri\" type=\"Reference\" instance=\"0x20\">{iv}</variable>\n",
    "\t\t\t<variable id=\"{rp}\" name=\"rp\" type=\"Reference\" prototype=\"0x10\">{pv}</variable>\n",
    "\t\t\t<variable id=\"{rg}\" name=\"rg\" type=\"Reference\" namespace=\"0xFFFFFFFF\">{g}</variable>\n",
    "\t\t\t<variable id=\"{nothing}\" name=\"nothing\" type=\"Invalid\">4294967295</variable>\n",
    "\t\t</globals>\n\t\t<namespace id=\"{ns}\" name=\"ns\">\n\t\t\t<variable id=\"{v}\" name=\"v\" type=\"Integer\">7</variable>\n"
    "\t\t</namespace>\n\t\t<prototypebound>\n"
    "\t\t\t<variable id=\"{pv}\" name=\"pv\" binding=\"0x10\" type=\"Integer\">1</variable>\n\t\t</prototypebound>\n"
    "\t\t<instancebound>\n\t\t\t<variable id=\"{iv}\" name=\"iv\" binding=\"0x20\" type=\"Integer\">2</variable>\n"
    "\t\t</instancebound>\n\t</variables>\n</talvex>",
};

// Ids of the item sections and of namespaces swap; values, sizes and variables do not.
const char* const kBigEndianLines[] = {
    "<hexencoding>BigEndian</hexencoding>",
    "\t\t<class id=\"0x201\" name=\"K\">",
    "\t\t\t<member id=\"{~w}\" type=\"Word\" items=\"1\"/>",
    "\t\t<object id=\"0x10000000\" class=\"0x201\" template=\"0x700\" csize=\"54\" tsize=\"5\">",
    "\t\t\t\t<member id=\"{~w}\" type=\"Word\">258</member>",
    "<p type=\"UnsignedDWord\">0x10000000</p>",
    "\t\t\t\t<member id=\"{~txt}\" type=\"TextId\">0x1000000</member>",
    "\t\t<object id=\"0x20000000\" prototype=\"0x10000000\" class=\"0x201\"",
    "\t\t<list id=\"0x30000000\" prototype=\"0xFFFFFFFF\" items=\"3\">\n\t\t\t<reference type=\"Prototype\">0x10000000<",
    "\t\t<text id=\"0x1000000\" size=\"8\">",
    "\t\t<blob id=\"0x3000000\" size=\"2\">",
    "\t\t<namespace id=\"{~ns}\" name=\"ns\">\n\t\t\t<variable id=\"{v}\" name=\"v\" type=\"Integer\">7<",
    "\t\t\t<variable id=\"{rn}\" name=\"rn\" type=\"Reference\" namespace=\"{ns}\">{v}<",
    "binding=\"0x20\" type=\"Integer\">2<",
};

TEST_F(WriterTest, EveryElementKindInBothByteOrders) {
  QuorinTest::BuildRichRepository();
  const std::string little = ExportXml();
  for (const char* line : kLittleEndianLines) EXPECT_NE(little.find(Expand(line)), std::string::npos) << Expand(line);
  const std::string big = ExportXml(255, 1);
  for (const char* line : kBigEndianLines) EXPECT_NE(big.find(Expand(line)), std::string::npos) << Expand(line);
}

TEST_F(WriterTest, ListedRegionsInTheirOrder) {
  TlxBeginRegionWithId(5);
  TlxCreatePrototype(0x40, 1, 0xFFFF);
  TlxCreateText(0x40, "five");
  TlxEndRegion();
  TlxBeginRegionWithId(6);
  TlxCreatePrototype(0x41, 1, 0xFFFF);
  TlxEndRegion();
  TlxCreatePrototype(0x42, 1, 0xFFFF);
  const std::string listed = ExportXml(0x14, 0, {6, 5});
  EXPECT_LT(listed.find("id=\"0x41\""), listed.find("id=\"0x40\""));
  EXPECT_EQ(listed.find("id=\"0x42\""), std::string::npos);
  EXPECT_NE(listed.find("<text id=\"0x40\" size=\"5\">five</text>"), std::string::npos);
  // A count of 0 lists all regions whatever the pointer.
  const uint16_t regions[] = {5};
  const TlxExportConfig config{8192, 4, 0, regions, 0, 0, 0};
  QuorinTest::CStringSink sink;
  Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), config, sink);
  EXPECT_NE(sink.bytes.find("id=\"0x42\""), std::string::npos);
}

TEST_F(WriterTest, ProgressCountsWrittenElementsAgainstTheRepository) {
  QuorinTest::BuildRichRepository();
  Quorin::CInterchangeProgress progress;
  struct SProgressSink : QuorinTest::CStringSink {
    Quorin::CInterchangeProgress* progress;
    float seen = -1;  // the counter when the last bytes came, before the end sets it to the total
    void Write(const void* data, size_t count) override { seen = progress->GetCounter(), CStringSink::Write(data, count); }
  } sink;
  sink.progress = &progress;
  Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), TlxExportConfig{8192, 255, 0, nullptr, 0, 0, 0}, sink, &progress);
  // 2 types, 3 prototypes and lists, 2 instances and lists, 3 texts, 1 blob, 13 global and
  // namespace variables, 2 bound variables.
  EXPECT_EQ(std::make_tuple(progress.GetTotal(), sink.seen, progress.GetCounter()), std::make_tuple(26.0f, 26.0f, 26.0f));
  ExportXml(0x30, 0, {}, &progress);
  EXPECT_EQ(progress.GetTotal(), 4.0f);
}

TEST_F(WriterTest, FailuresOfMemoryAndSinkLeaveNothingBehind) {
  QuorinTest::BuildRichRepository();
  const std::string expected = ExportXml();
  QuorinTest::ForEachAllocationFailure([&] { EXPECT_EQ(ExportXml(), expected); });
  QuorinTest::CStringSink sink;
  sink.failAfter = 100;
  const TlxExportConfig config{8192, 255, 0, nullptr, 0, 0, 0};
  EXPECT_THROW(Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), config, sink), std::runtime_error);
}

}  // namespace
