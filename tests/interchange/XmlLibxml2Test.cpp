// Written files read by libxml2: well-formed in both byte orders, and what libxml2's reader finds
// in them (texts, blobs, list entries, member values, variables) agrees with the Repository.
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

struct SElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string content;
};

// Element sizes by member type code, and the integer types checked: (size, signed).
constexpr uint32_t kSizes[32] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 4, 4, 4, 4, 4, 5, 5, 5};
const std::map<std::string, std::pair<uint32_t, bool>> kIntegers = {
    {"Byte", {1, true}}, {"Word", {2, true}}, {"DWord", {4, true}}, {"UnsignedQWord", {8, false}}};

uint32_t Number(const std::string& text) { return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0)); }

// Checks one element that libxml2 read completely against the Repository; `open` holds the
// elements around it, innermost last.
void Check(const SElement& e, const std::vector<SElement>& open) {
  const auto attribute = [&](const char* name) { return e.attributes.count(name) ? e.attributes.at(name) : ""; };
  const std::string& parent = open.back().name;
  if (e.name == "text" && TlxGetTextEncoding(Number(attribute("id"))) == 0) {
    EXPECT_EQ(e.content, static_cast<const char*>(TlxGetText(Number(attribute("id")))));
    EXPECT_EQ(Number(attribute("size")), e.content.size() + 1);
  } else if (e.name == "blob") {
    const TlxBlob* blob = TlxGetBlob(Number(attribute("id")));
    ASSERT_EQ(e.content.size(), blob->size * 2u);
    for (uint32_t i = 0; i < blob->size; ++i) EXPECT_EQ(Number("0x" + e.content.substr(i * 2, 2)), blob->data[i]);
  } else if (e.name == "reference") {
    const SElement& list = open.back();
    const uint32_t id = Number(list.attributes.at("id"));
    const TlxReferenceList* handle = open[open.size() - 2].name == "listprototypes" ? TlxGetListPrototype(id)
                                                                                   : TlxGetListInstance(id);
    ASSERT_NE(handle, nullptr);
    const uint32_t index = Number(list.attributes.at("seen"));
    EXPECT_EQ(Number(e.content), handle->entries[index].id);
  } else if (e.name == "member" && parent == "cdata" && kIntegers.count(attribute("type")) &&
             !e.content.empty()) {
    // Integer members in the single form: the value at the member's offset of the class data.
    const bool prototype = open[open.size() - 3].name == "prototypes";
    const uint32_t id = Number(open[open.size() - 2].attributes.at("id"));
    const TlxObject* object = prototype ? TlxGetPrototype(id) : TlxGetInstance(id);
    uint32_t offset = 0;
    for (uint32_t i = 0; const TlxMember* member = TlxGetClassMemberByIndex(object->classId, i); ++i) {
      if (member->nameHash == Number(attribute("id"))) break;
      offset += kSizes[member->typeWord & 31] * (member->typeWord >> 5);
    }
    const auto [size, isSigned] = kIntegers.at(attribute("type"));
    uint64_t value = 0;
    std::memcpy(&value, static_cast<const uint8_t*>(object->classData) + offset, size);
    if (isSigned && size < 8 && (value >> (size * 8 - 1)) != 0) value |= ~0ull << (size * 8);
    EXPECT_EQ(isSigned ? static_cast<uint64_t>(std::strtoll(e.content.c_str(), nullptr, 10))
                       : std::strtoull(e.content.c_str(), nullptr, 10), value);
  } else if (e.name == "variable" && (parent == "globals" || parent == "namespace") && e.attributes.count("name")) {
    const std::string name = parent == "namespace" ? "ns:" + attribute("name") : attribute("name");
    const TlxSprigValue reference = TlxSprigGetVar(name.c_str());  // a Reference to the variable
    const auto& value = *reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(reference.payload));
    if (attribute("type") == "String") {
      EXPECT_EQ(e.content, reinterpret_cast<const char*>(static_cast<uintptr_t>(value.payload)));
    } else if (attribute("type") == "Integer") {
      EXPECT_EQ(std::atoi(e.content.c_str()), static_cast<int32_t>(value.payload));
    }
  }
}

TEST_F(Libxml2Test, WhatLibxml2ReadsAgreesWithTheRepository) {
  const std::string xml = QuorinTest::ExportXml();
  xmlTextReaderPtr reader = xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), "export.xml", nullptr, 0);
  ASSERT_NE(reader, nullptr);
  std::vector<SElement> open{{"document", {}, {}}};
  std::map<std::string, int> checked;
  while (xmlTextReaderRead(reader) == 1) {
    const int type = xmlTextReaderNodeType(reader);
    if (type == XML_READER_TYPE_ELEMENT) {
      SElement element{reinterpret_cast<const char*>(xmlTextReaderConstName(reader)), {}, {}};
      while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
        element.attributes[reinterpret_cast<const char*>(xmlTextReaderConstName(reader))] =
            reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
      }
      xmlTextReaderMoveToElement(reader);
      if (element.name == "list") element.attributes["seen"] = "0";
      open.push_back(element);
      if (!xmlTextReaderIsEmptyElement(reader)) continue;
    } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
      open.back().content += reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
      continue;
    } else if (type != XML_READER_TYPE_END_ELEMENT) {
      continue;
    }
    const SElement done = open.back();
    open.pop_back();
    Check(done, open);
    ++checked[done.name];
    if (done.name == "reference") open.back().attributes["seen"] = std::to_string(Number(open.back().attributes["seen"]) + 1);
  }
  xmlFreeTextReader(reader);
  EXPECT_EQ(open.size(), 1u);
  EXPECT_EQ(checked["text"], 3);
  EXPECT_EQ(checked["blob"], 1);
  EXPECT_EQ(checked["reference"], 6);
  EXPECT_EQ(checked["variable"], 15);
  EXPECT_EQ(checked["member"], 11 + 2 * 10);  // declarations, then the values of both objects
}

}  // namespace
