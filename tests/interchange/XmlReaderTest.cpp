// The streaming XML reader: events of small documents (markup forms, references, trimming, the
// matcher's quirks, what other tools write, malformed markup), and the same events whatever the
// chunks the document arrives in.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/interchange/XmlEventLog.h"

namespace {

using QuorinTest::ReadChunked;
using Events = std::vector<std::string>;

struct ReaderCase {
  const char* name;
  std::string doc;
  Events events;
};

const ReaderCase kReaderCases[] = {
    {"ApostropheOpenedQuoteClosedThenEmptyEnd", "<a b='x\"/>", {"N", "<a", "@b=x", "N", "/>"}},
    {"TextTrimmedAndResolved", "<a> a &amp; b </a>", {"N", "<a", "T:a & b", ">a"}},
    {"NumericAndUnknownReferences", "<a>&#65;&#x41;&foo;&#X41;&#;</a>", {"N", "<a", "T:AA&foo;&#X41;&#;", ">a"}},
    {"ReferencesKeptAsWritten", "<a>&#0;&#xD800;&#x110000;&abcdefghijklmnop;&amp</a>",
     {"N", "<a", "T:&#0;&#xD800;&#x110000;&abcdefghijklmnop;&amp", ">a"}},
    {"ReferencesToUtf8", "<a>&#xE9;&#x20AC;&#x10FFFF;&lt;&gt;&apos;&quot;</a>",
     {"N", "<a", "T:\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF<>'\"", ">a"}},
    {"CDataTrimmedNotResolved", "<b><![CDATA[  00AB &amp; ]]></b>", {"N", "<b", "N", "C:00AB &amp;", "N", ">b"}},
    {"CDataEndsOnlyAfterEvenBrackets", "<![CDATA[a]]]>b]]]]>", {"N", "C:a]]]>b]]"}},
    {"CommentEndsOnlyAfterEvenHyphens", "<!-- a ---> b ---->", {"N", "# a ---> b --"}},
    {"DeclarationInstructionAndBom", "\xEF\xBB\xBF<?xml version=\"1.0\"?><!DOCTYPE t><t/>",
     {"N", "?xml version=\"1.0\"", "N", "!DOCTYPE t", "N", "<t", "N", "/>"}},
    {"AnyBlanksBetweenAttributes", "<e\n\ta = \"1\"\r\n  b='2'\t/>", {"N", "<e", "@a=1", "@b=2", "N", "/>"}},
    {"AttributeValueTrimmedAndResolved", "<e a=' x&lt;y '>", {"N", "<e", "@a=x<y"}},
    {"EndTagWithBlank", "<a></a >", {"N", "<a", "N", ">a"}},
    {"LessThanWithoutNameIsText", "<a>1 < 2 <<b></a>", {"N", "<a", "T:1 < 2 <", "<b", "N", ">a"}},
    {"NonAsciiNames", "<\xC3\xA9 \xC3\x97=\"1\" \xC3\xA0='2'/>", {"N", "<\xC3\xA9", "@\xC3\xA0=2", "N", "/>"}},
    {"MalformedBytesStartNoName", "<\xC0\xBC><\xC3", {"T:<\xC0\xBC>"}},
    {"CDataInPlaceOfText", "<t>x<![CDATA[<y>]]>z</t>", {"N", "<t", "T:x", "C:<y>", "T:z", ">t"}},
    {"StopInAttributeName", "<a b>c</a>", {"N", "<a", "STOP"}},
    {"StopBeforeValue", "<a b=>", {"N", "<a", "STOP"}},
    {"StopInValueReportsIt", "<a b=\"x>\"/>", {"N", "<a", "@b=x", "STOP"}},
};

class ReaderEventTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderEventTest, ReportsTheEvents) {
  const ReaderCase& c = GetParam();
  const QuorinTest::SChunkedRead whole = ReadChunked(c.doc, c.doc.size() + 1);
  EXPECT_EQ(whole.events, c.events);
  EXPECT_TRUE(whole.terminated);
}

INSTANTIATE_TEST_SUITE_P(Documents, ReaderEventTest, testing::ValuesIn(kReaderCases),
                         [](const testing::TestParamInfo<ReaderCase>& param) { return std::string(param.param.name); });

// Every construct of the reader, with texts, attributes and sections long enough to be split.
const std::string kRichDocument =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- All node names -->\n<talvex>\n"
    "\t<class id=\"0x1A\" name='K&amp;\xC3\xA9'>\n\t\t<member id=\"0x2\" type=\"Byte\" items=\"1\"/>\n"
    "\t\t<member\n id = '0x3'\ttype=\"Float\" items=\"3\" />\n\t</class>\n"
    "\t<text id=\"0x7\" size=\"40\">&#32;long text with &lt;refs&gt; &amp; \xE2\x82\xAC signs&#10;</text >\n"
    "\t<blob id=\"0x3\" size=\"8\"><![CDATA[ 00AB]]]>10FF-->77EE ]]></blob>\n"
    "\t<!DOCTYPE nothing><?pi x?><v type=\"String\"><![CDATA[ a <b> ]]></v><e/><\xC3\xA9/></talvex>\n";

TEST(ReaderChunkTest, SplitAnywhereGivesTheSameEvents) {
  const QuorinTest::SChunkedRead whole = ReadChunked(kRichDocument, kRichDocument.size() + 1);
  ASSERT_EQ(whole.events.size(), 62u);
  for (size_t split = 1; split < kRichDocument.size(); ++split) {
    const QuorinTest::SChunkedRead read = ReadChunked(kRichDocument, split, kRichDocument.size());
    EXPECT_EQ(read.events, whole.events) << "split at " << split;
    EXPECT_TRUE(read.unconsumedKept && read.terminated) << "split at " << split;
  }
  for (const size_t size : {2u, 3u, 5u, 61u}) {
    for (const bool observe : {true, false}) {
      const QuorinTest::SChunkedRead read = ReadChunked(kRichDocument, size, 0, observe);
      Events expected = whole.events;
      if (!observe) std::erase_if(expected, [](const std::string& e) { return e[0] == '!' || e[0] == '?' || e[0] == '#'; });
      EXPECT_EQ(read.events, expected) << "buffer " << size;
      EXPECT_TRUE(read.unconsumedKept && read.terminated) << "buffer " << size;
    }
  }
}

TEST(ReaderChunkTest, StopsForGoodAndTellsWhere) {
  QuorinTest::CXmlEventLog log;
  Quorin::CXmlReader reader(log);
  std::string doc = "<a></a><b c='1' d>";
  EXPECT_EQ(reader.Parse(doc.data(), doc.size()), 15u);  // up to the last complete attribute
  EXPECT_TRUE(reader.IsStopped());
  EXPECT_EQ(reader.GetStopOffset(), doc.size() - 1);
  EXPECT_EQ(reader.Parse(doc.data(), doc.size()), 0u);
  reader.Reset();
  EXPECT_EQ(reader.Parse(doc.data(), 7), 7u);
}

}  // namespace
