// The examples of the user documentation, checked against the library:
// - every ```sprig block of docs/*.md is a list of `text  →  result` lines, run in order through
//   TlxSprigExecute on a freshly started library with the standard functions bound; a result
//   `error C at P: message` is the script error that running the text raises (the export gives
//   Invalid and TlxSprigGetLastError reports), `syntax error C at P: message` one that only the
//   strict parse reports;
// - a block whose info string names a file (```c examples/WalkStory.c) is an excerpt of it;
// - story-model.md shows every class of the default catalogue as it is registered.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/ScriptBinding.h"
#include "tests/sprig/SprigTestSupport.h"

namespace {

constexpr const char* kDocs[] = {"docs/sprig.md", "docs/story-model.md"};

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(std::string(QUORIN_SOURCE_DIR) + "/" + path, std::ios::binary).rdbuf();
  return text.str();
}

struct SBlock {
  std::string info, body;
  int line;  // of the opening fence
};

std::vector<SBlock> FencedBlocks(const std::string& text) {
  std::vector<SBlock> blocks;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.rfind("```", 0) != 0) continue;
    SBlock block{line.substr(3), "", number};
    while (std::getline(in, line) && (++number, line.rfind("```", 0) != 0)) block.body += line + "\n";
    blocks.push_back(block);
  }
  return blocks;
}

// A value as the documentation writes it: 7, 3.5, 2.0, "text", true, Invalid.
std::string Show(TlxSprigValue value) {
  char text[32];
  float number = 0;
  switch (value.kind) {
    case Quorin::Sprig::kSprigBoolean: return value.payload != 0 ? "true" : "false";
    case Quorin::Sprig::kSprigInteger: return std::to_string(static_cast<int32_t>(value.payload));
    case Quorin::Sprig::kSprigFloat:
      std::memcpy(&number, &value.payload, sizeof number);
      for (int digits = 1; digits <= 9; ++digits) {  // the shortest text that reads back
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(number));
        if (std::strtof(text, nullptr) == number) break;
      }
      return std::string(text) + (std::strpbrk(text, ".ein") == nullptr ? ".0" : "");
    case Quorin::Sprig::kSprigString: {
      std::string shown = "\"";
      for (const char* c = reinterpret_cast<const char*>(value.payload); *c != 0; ++c) {
        shown += *c == '"' ? std::string("\\\"") : std::string(1, *c);
      }
      BrvFree(reinterpret_cast<void*>(value.payload));
      return shown + "\"";
    }
    default: return "Invalid";
  }
}

// The syntax error the strict parse raises, with its code (the export gives none).
std::string SyntaxErrorOf(const std::string& text) {
  try {
    Quorin::Sprig::Parse(Bravik::CString(text.c_str()), false);
  } catch (const Quorin::CSprigException& error) {
    return "syntax error " + std::to_string(error.GetCode()) + " at " + std::to_string(error.GetPosition()) + ": " +
           static_cast<const char*>(error.GetMessage().GetData());
  }
  return "no error";
}

// The calling thread's last script error as the documentation writes it; "no error" for none.
std::string LastError() {
  char message[256] = "";
  uint32_t position = 0;
  const uint32_t code = TlxSprigGetLastError(message, sizeof message, &position);
  if (code == 0) return "no error";
  return "error " + std::to_string(code) + " at " + std::to_string(position) + ": " + message;
}

// What sprig.md says the host stored before a ```sprig objects block: a Location prototype
// 0x10 whose ScaleX is 2.5 and whose Name is the text id 7, and an instance 0x20 of it.
void StoreDocumentedObjects() {
  constexpr uint16_t kLocation = 0xFF10;
  TlxRegisterDefaultClasses();
  std::vector<uint8_t> data(TlxGetClassSizeByte(kLocation), 0);
  const float scale = 2.5f;
  const uint32_t name = 7;
  std::memcpy(&data[TlxGetClassMemberOffset(kLocation, "ScaleX")], &scale, sizeof scale);
  std::memcpy(&data[TlxGetClassMemberOffset(kLocation, "Name")], &name, sizeof name);
  TlxCreatePrototype(0x10, kLocation, 0xFFFF);
  TlxStorePrototypeClassData(0x10, data.data(), static_cast<uint32_t>(data.size()));
  TlxCreateInstanceFromPrototype(0x20, 0x10);
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void CheckExample(const std::string& text, const std::string& expected, const std::string& where) {
  const bool syntax = expected.rfind("syntax error", 0) == 0, error = expected.rfind("error", 0) == 0;
  if (syntax) {
    char message[256] = "";
    uint32_t position = 0;
    EXPECT_FALSE(TlxSprigTryParse(text.c_str(), message, sizeof message, &position)) << where;
    EXPECT_NE(expected.find(" at " + std::to_string(position) + ": " + message), std::string::npos) << where;
    EXPECT_EQ(SyntaxErrorOf(text), expected) << where;
  } else {
    EXPECT_EQ(Show(TlxSprigExecute(text.c_str())), error ? "Invalid" : expected) << where;
    EXPECT_EQ(LastError(), error ? expected : "no error") << where;
  }
}

TEST(Docs, SprigExamplesGiveTheirResults) {
  int examples = 0;
  for (const char* doc : kDocs) {
    for (const SBlock& block : FencedBlocks(ReadFile(doc))) {
      if (block.info != "sprig" && block.info != "sprig objects") continue;
      ASSERT_TRUE(TlxInitialize(17, 0));
      TlxSprigBindStandardFunctions();
      if (block.info == "sprig objects") StoreDocumentedObjects();
      std::istringstream lines(block.body);
      std::string line;
      for (int number = block.line + 1; std::getline(lines, line); ++number, ++examples) {
        const std::string where = std::string(doc) + ":" + std::to_string(number) + ": " + line;
        const size_t arrow = line.find("→");
        ASSERT_NE(arrow, std::string::npos) << where;
        CheckExample(Trim(line.substr(0, arrow)), Trim(line.substr(arrow + std::strlen("→"))), where);
      }
      TlxShutdown();
    }
  }
  EXPECT_GT(examples, 100);
}

TEST(Docs, QuotedBlocksAreExcerptsOfTheirFiles) {
  for (const char* doc : kDocs) {
    for (const SBlock& block : FencedBlocks(ReadFile(doc))) {
      const std::string file = block.info.substr(block.info.find(' ') + 1);
      if (block.info.find(' ') == std::string::npos || file.find('/') == std::string::npos) continue;
      EXPECT_NE(ReadFile(file).find(block.body), std::string::npos)
          << doc << ":" << block.line << " is not an excerpt of " << file;
    }
  }
}

constexpr const char* kTypeNames[] = {
    "Byte",  "UnsignedByte",  "Word",  "UnsignedWord", "DWord",  "UnsignedDWord", "QWord",
    "UnsignedQWord", "Float", "Double", "TextId", "BlobId", "PrototypeId", "InstanceId",
    "ListPrototypeId", "ListInstanceId", "Reference", "ListReference", "ScriptReference"};

// Each class, rendered from the registered type the way the document writes it.
TEST(Docs, StoryModelShowsEveryClassAsRegistered) {
  ASSERT_TRUE(TlxInitialize(17, 1));  // RecordNames: names are read back from their hashes
  TlxRegisterDefaultClasses();
  const std::string doc = ReadFile("docs/story-model.md");
  for (uint16_t id : {0xFFC0, 0xFFF1, 0xFFD1, 0xFFDF, 0xFFEE, 0xFF0F, 0xFFF0, 0xFFA5, 0xFF10, 0xFF70,
                      0xFF9A, 0xFF59, 0xFF11}) {
    const TlxTypeInfo* type = TlxGetClassType(id);
    char heading[128];
    std::snprintf(heading, sizeof heading, "### %s (0x%04X, %u bytes)\n\n| member | type | offset |\n|---|---|---|\n",
                  TlxDebug_TryGetString(type->nameHash), id, type->sizeByte);
    std::string section = heading;
    for (uint32_t i = 0; i < type->memberCount; ++i) {
      const TlxMember* member = TlxGetClassMemberByIndex(id, i);
      const char* name = TlxDebug_TryGetString(member->nameHash);
      section += std::string("| `") + name + "` | " + kTypeNames[(member->typeWord & 31) % 19] + " | " +
                 std::to_string(TlxGetClassMemberOffset(id, name)) + " |\n";
    }
    EXPECT_NE(doc.find(section + "\n"), std::string::npos) << "story-model.md lacks\n" << section;
  }
  TlxShutdown();
}

}  // namespace
