// Written files read by libxml2: well-formed in both byte orders, and the texts, blobs and
// variables libxml2's reader finds in them (escaped, with edge blanks, in CDATA or not) are those
// of the Repository.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "tests/interchange/ExportTestSupport.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

class Libxml2Test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QuorinTest::StartLibrary(1));
    QuorinTest::BuildRichRepository();
  }
  void TearDown() override { TlxShutdown(); }
};

TEST_F(Libxml2Test, WrittenFilesAreWellFormed) {
  for (const uint32_t byteOrder : {0u, 1u}) {
    const std::string xml = QuorinTest::ExportXml(255, byteOrder);
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "export.xml", nullptr, XML_PARSE_NONET);
    EXPECT_NE(doc, nullptr) << "byte order " << byteOrder;
    xmlFreeDoc(doc);
  }
}

const char* Text(const xmlChar* text) { return reinterpret_cast<const char*>(text); }
uint32_t Number(const std::string& text) { return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0)); }

// Compares one element libxml2 read completely (inside `parent`) with the Repository; returns
// whether it was one of the kinds compared.
bool Compare(const std::string& name, std::map<std::string, std::string>& attributes, const std::string& content,
             const std::string& parent) {
  if (name == "text" && TlxGetTextEncoding(Number(attributes["id"])) == 0) {
    EXPECT_EQ(content, static_cast<const char*>(TlxGetText(Number(attributes["id"]))));
    EXPECT_EQ(Number(attributes["size"]), content.size() + 1);
  } else if (name == "blob") {
    const TlxBlob* blob = TlxGetBlob(Number(attributes["id"]));
    std::string bytes;
    for (size_t i = 0; i + 1 < content.size(); i += 2) bytes += static_cast<char>(Number("0x" + content.substr(i, 2)));
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(blob->data), blob->size));
  } else if (name == "variable" && (parent == "globals" || parent == "namespace") &&
             (attributes["type"] == "String" || attributes["type"] == "Integer")) {
    const std::string variable = (parent == "namespace" ? "ns:" : "") + attributes["name"];
    const TlxSprigValue reference = TlxSprigGetVar(variable.c_str());  // a Reference to the variable
    const auto& value = *reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(reference.payload));
    EXPECT_EQ(content, value.kind == 4 ? Text(reinterpret_cast<const xmlChar*>(value.payload))
                                       : std::to_string(static_cast<int32_t>(value.payload)));
  } else {
    return false;
  }
  return true;
}

TEST_F(Libxml2Test, TextsBlobsAndVariablesAgreeWithTheRepository) {
  const std::string xml = QuorinTest::ExportXml();
  xmlTextReaderPtr reader = xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), "export.xml", nullptr, 0);
  std::vector<std::string> open{"document"};
  std::map<std::string, std::string> attributes;
  std::string content;
  int compared = 0;
  while (xmlTextReaderRead(reader) == 1) {
    const int type = xmlTextReaderNodeType(reader);
    if (type == XML_READER_TYPE_ELEMENT && !xmlTextReaderIsEmptyElement(reader)) {
      open.push_back(Text(xmlTextReaderConstName(reader)));
      attributes.clear();
      content.clear();
      while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
        attributes[Text(xmlTextReaderConstName(reader))] = Text(xmlTextReaderConstValue(reader));
      }
    } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
      content += Text(xmlTextReaderConstValue(reader));
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      const std::string name = open.back();
      open.pop_back();
      compared += Compare(name, attributes, content, open.back()) ? 1 : 0;
    }
  }
  xmlFreeTextReader(reader);
  EXPECT_EQ(compared, 2 + 1 + 4 + 2);  // UTF-8 texts, the blob, Strings, Integers
}

}  // namespace
