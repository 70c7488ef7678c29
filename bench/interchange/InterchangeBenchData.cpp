#include "bench/interchange/InterchangeBenchData.h"

#include <cstring>
#include <random>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "interchange/XmlWriter.h"
#include "repository/Repository.h"

namespace QuorinBench {

namespace {

// The story classes objects take, in turn (the catalogue's ids).
constexpr uint16_t kStoryClasses[] = {0xFFDF, 0xFFDF, 0xFFF1, 0xFFC0, 0xFFC0, 0xFFEE, 0xFF0F, 0xFF10};
constexpr uint16_t kConnectionPart = 0xFFC0;
constexpr uint32_t kTemplates = 8;
constexpr uint32_t kElementSizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 4, 4, 4, 4, 4, 5, 5, 5};

const char* const kWords[] = {"the",  "old",  "gate", "opens", "slowly", "&",    "guard",  "<whispers>",
                              "of",   "a",    "long", "night", "under",  "red",  "moon",   "\"again\"",
                              "wind", "over", "sea",  "she",   "never",  "came", "home", "tonight"};

class CStoryBuilder {
 public:
  explicit CStoryBuilder(uint32_t objects) : m_objects(objects) {}

  void Build() {
    TlxRegisterDefaultClasses();
    RegisterTemplates();
    for (uint32_t i = 0; i < m_objects; ++i) AddObject(i);
    for (uint32_t i = 0; i < m_objects; i += 10) TlxCreateInstanceFromPrototype(i, i);
    AddVariables();
  }

 private:
  // Templates of 6 to 13 members of every kind, some of them arrays, with two features each.
  void RegisterTemplates() {
    const uint32_t codes[] = {4, 8, 10, 16, 1, 9, 17, 2, 5, 18, 7, 3, 0};
    for (uint32_t t = 0; t < kTemplates; ++t) {
      TlxBeginTemplateType(0xFFFF);
      const std::string name = "Template" + std::to_string(t);
      TlxAddTemplateFeature((name + "Feature").c_str());
      TlxAddTemplateFeature("Localizable");
      for (uint32_t m = 0; m < 6 + t; ++m) {
        const std::string member = "Property" + std::to_string(m);
        TlxAddTemplateMember(member.c_str(), codes[(m + t) % 13], m % 4 == 3 ? 3 : 1);
      }
      TlxEndTemplateType(name.c_str(), static_cast<uint16_t>(t));
    }
  }

  std::string Sentence(uint32_t words) {
    std::string text;
    for (uint32_t i = 0; i < words; ++i) {
      if (i != 0) text += ' ';
      text += kWords[m_random() % (sizeof(kWords) / sizeof(kWords[0]))];
    }
    return text;
  }

  uint32_t NewText() {
    const uint32_t id = m_nextText++;
    TlxCreateText(id, Sentence(3 + m_random() % 18).c_str());
    return id;
  }

  // One element of a member: ids of new texts, lists and blobs, references to other objects,
  // numbers of every width.
  void FillElement(uint32_t code, uint32_t object, uint8_t* out) {
    const uint32_t other = m_random() % m_objects;
    const uint64_t number = m_random() % 100000;
    const float real = static_cast<float>(m_random() % 10000) / 64.0f;
    switch (code) {
      case 8: std::memcpy(out, &real, 4); break;
      case 9: {
        const double wide = real * 3.0;
        std::memcpy(out, &wide, 8);
        break;
      }
      case 10: {
        const uint32_t text = NewText();
        std::memcpy(out, &text, 4);
        break;
      }
      case 11: case 12: case 13: case 14: case 15: std::memcpy(out, &other, 4); break;
      case 16: case 18: {
        const TlxReference reference{code == 18 ? NewText() : other, static_cast<uint8_t>(1 + object % 2)};
        std::memcpy(out, &reference, 5);
        break;
      }
      case 17: {
        const TlxReference entries[3] = {{other, 1}, {(other + 1) % m_objects, 1}, {object, 2}};
        TlxCreateListPrototype(m_nextList, entries, 1 + object % 3);
        const TlxListReference list{m_nextList++, 1};
        std::memcpy(out, &list, 5);
        break;
      }
      default: std::memcpy(out, &number, kElementSizes[code]); break;
    }
  }

  std::vector<uint8_t> Data(bool isClass, uint16_t type, uint32_t object) {
    std::vector<uint8_t> data(isClass ? TlxGetClassSizeByte(type) : TlxGetTemplateSizeByte(type));
    size_t offset = 0;
    for (uint32_t i = 0;; ++i) {
      const TlxMember* member = isClass ? TlxGetClassMemberByIndex(type, i) : TlxGetTemplateMemberByIndex(type, i);
      if (member == nullptr) break;
      const uint32_t code = member->typeWord & 31;
      for (uint32_t item = 0; item < member->typeWord >> 5; ++item, offset += kElementSizes[code]) {
        FillElement(code == 11 && object % 100 != 0 ? 12 : code, object, &data[offset]);
      }
    }
    return data;
  }

  void AddObject(uint32_t object) {
    const uint16_t classId = kStoryClasses[object % (sizeof(kStoryClasses) / sizeof(kStoryClasses[0]))];
    const uint16_t templateId = classId == kConnectionPart ? 0xFFFF : static_cast<uint16_t>(object % kTemplates);
    TlxCreatePrototype(object, classId, templateId);
    const std::vector<uint8_t> classData = Data(true, classId, object);
    TlxStorePrototypeClassData(object, classData.data(), static_cast<uint32_t>(classData.size()));
    if (templateId != 0xFFFF) {
      const std::vector<uint8_t> templateData = Data(false, templateId, object);
      TlxStorePrototypeTemplateData(object, templateData.data(), static_cast<uint32_t>(templateData.size()));
    }
    if (object % 100 == 0) {
      std::vector<uint8_t> bytes(512);
      for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(m_random());
      TlxCreateBlob(object, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
  }

  void AddVariables() {
    const char* const values[] = {"5", "-1.5", "true", "\"Chapter one & two\"", "42", "false"};
    std::string script;
    for (uint32_t i = 0; i < 2000; ++i) {
      script = "flag" + std::to_string(i) + " = " + values[i % 6];
      Execute(script);
    }
    for (uint32_t space = 0; space < 40; ++space) {
      for (uint32_t i = 0; i < 25; ++i) {
        script = "quest" + std::to_string(space) + ":step" + std::to_string(i) + " = " + values[(i + space) % 6];
        Execute(script);
      }
    }
    for (uint32_t object = 0; object < m_objects; object += 20) {
      char id[16];
      std::snprintf(id, sizeof id, "%X", object);
      Execute(std::string("$0x") + id + ":visited = " + values[object % 6]);
    }
  }

  static void Execute(const std::string& script) {
    const TlxSprigValue value = TlxSprigExecute(script.c_str());
    if (value.kind == 4) BrvFree(reinterpret_cast<void*>(static_cast<uintptr_t>(value.payload)));
  }

  uint32_t m_objects;
  std::mt19937 m_random{20240611};
  uint32_t m_nextText = 1;
  uint32_t m_nextList = 1;
};

struct CStringSink final : Quorin::IByteSink {
  std::string bytes;
  void Write(const void* data, size_t count) override { bytes.append(static_cast<const char*>(data), count); }
};

}  // namespace

void BuildStory(uint32_t objects) { CStoryBuilder(objects).Build(); }

const std::string& StoryXml() {
  static const std::string xml = [] {
    TlxInitialize(17, 1);
    BuildStory();
    CStringSink sink;
    const TlxExportConfig config = {8192, 255, 0, nullptr, 0, 0, 0};
    Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), config, sink);
    TlxShutdown();
    return sink.bytes;
  }();
  return xml;
}

}  // namespace QuorinBench
