#include "tools/quorin/Story.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace QuorinTool {

namespace {

constexpr uint8_t kRecordNames = 1;

// Messages of the interchange result codes, by code.
constexpr const char* kResultMessages[] = {
    "succeeded", "is still being read", "could not be opened", "could not be read", "is malformed",
    "could not be read: out of memory", "was refused: another export or import is running",
    "could not be read: invalid arguments"};
constexpr uint32_t kMalformed = 4, kInvalidArguments = 7;

uint64_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<uint64_t>(size);
}

void WaitForImport(void (*progress)(float)) {
  while (!g_lib.TlxGetImportDone()) {
    progress(g_lib.TlxGetImportProgress());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  progress(1.0f);
}

// The library's own account of the import, when it gives one.
void ReadImportResult(SLoad& load) {
  char message[256] = "";
  if (g_lib.TlxGetInterchangeResult == nullptr) return;
  load.reported = g_lib.TlxGetInterchangeResult(1, &load.result, message, sizeof message);
  if (!load.reported || load.result.code == 0) return;
  const uint32_t code = load.result.code;
  load.ok = false;
  load.exitCode = code == kMalformed ? kExitFaults : kExitUsage;
  load.message = code < std::size(kResultMessages) ? kResultMessages[code] : "could not be read";
  const std::string place = "byte " + std::to_string(load.result.offset);
  if (code == kMalformed) {
    const std::string line = load.result.line != 0 ? "line " + std::to_string(load.result.line) + ", " : "";
    load.message = "malformed at " + line + place;  // the binary form has no lines
  }
  // The library's message names the file and the place again: keep only the reason after them.
  std::string reason = message;
  const size_t at = reason.find(place + ": ");
  if (at != std::string::npos) reason.erase(0, at + place.size() + 2);
  if (!reason.empty()) load.message += ": " + reason;
}

std::string Attribute(const std::string& line, const char* name) {
  const std::string key = std::string(" ") + name + "=\"";
  const size_t at = line.find(key);
  if (at == std::string::npos) return {};
  const size_t begin = at + key.size(), end = line.find('"', begin);
  return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

uint32_t HexAttribute(const std::string& line, const char* name) {
  return static_cast<uint32_t>(std::strtoul(Attribute(line, name).c_str(), nullptr, 16));
}

// Records one line of the written file: `depth` tabs, then an element named `element`.
void ReadInventoryLine(SInventory& inventory, const std::string& section, size_t depth, const std::string& element,
                       const std::string& line) {
  if (depth == 2 && section != "variables") ++inventory.counts[section];
  if (depth == 2 && element == "namespace") ++inventory.namespaces;
  if (depth == 3 && element == "variable") ++inventory.counts["variables"];
  if (depth != 2) return;
  if (element == "object") {
    const auto classId = static_cast<uint16_t>(HexAttribute(line, "class"));
    inventory.objects.push_back({HexAttribute(line, "id"), classId, section == "instances"});
  } else if (element == "text") {
    inventory.texts.push_back(HexAttribute(line, "id"));
  } else if (element == "class" || element == "template") {
    (element == "class" ? inventory.classes : inventory.templates).push_back(
        static_cast<uint16_t>(HexAttribute(line, "id")));
  }
}

void ReadInventory(std::istream& in, SInventory& inventory) {
  std::string line, section;
  while (std::getline(in, line)) {
    const size_t depth = line.find_first_not_of('\t');
    if (depth == std::string::npos || line[depth] != '<' || depth + 1 >= line.size() || line[depth + 1] == '/') continue;
    const size_t nameEnd = line.find_first_of(" />", depth + 1);
    const std::string element = line.substr(depth + 1, nameEnd == std::string::npos ? std::string::npos : nameEnd - depth - 1);
    if (depth == 1) section = element;
    ReadInventoryLine(inventory, section, depth, element, line);
  }
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6)), out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12)), out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18)), out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F)), out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string FromUtf16(const uint16_t* text) {
  std::string out;
  for (; *text != 0; ++text) {
    uint32_t code = *text;
    if (code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
      ++text;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::string FirstWords(const std::string& text, size_t words) {
  size_t at = 0;
  for (size_t i = 0; i < words && at != std::string::npos; ++i) {
    at = text.find(' ', text.find_first_not_of(' ', at));
  }
  if (at == std::string::npos) return text;
  const size_t kept = text.find_last_not_of(".,;:!?", at - 1);
  return text.substr(0, kept == std::string::npos ? at : kept + 1) + "...";
}

template <typename TValue>
TValue Member(TlxObject* object, const char* member, TValue absent) {
  const void* at = object != nullptr ? g_lib.TlxGetCMemberByName(object, member) : nullptr;
  if (at != nullptr) std::memcpy(&absent, at, sizeof absent);
  return absent;
}

}  // namespace

const char* FormatName(EFormat format) { return format == EFormat::kXml ? "XML" : "binary"; }

EFormat SniffFormat(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char first = '\0';
  while (in.get(first) && (first == ' ' || first == '\t' || first == '\r' || first == '\n')) {
  }
  return !in || first == '<' ? EFormat::kXml : EFormat::kBinary;
}

bool StartLibrary(bool bindFunctions) {
  if (!g_lib.TlxInitialize(17, kRecordNames)) {
    std::fprintf(stderr, "quorin: the library did not start\n");
    return false;
  }
  if (bindFunctions) g_lib.TlxSprigBindStandardFunctions();
  return true;
}

SLoad ImportFile(const std::string& path, void (*progress)(float)) {
  SLoad load;
  if (!std::ifstream(path, std::ios::binary)) {
    load.exitCode = kExitUsage, load.message = "cannot open the file";
    return load;
  }
  if (g_lib.TlxImport == nullptr || g_lib.TlxGetDefaultImportConfig == nullptr) {
    load.exitCode = kExitUsage, load.message = "this build of the library cannot read interchange files";
    return load;
  }
  load.ok = true, load.size = FileSize(path), load.format = SniffFormat(path);
  TlxImportConfig config = g_lib.TlxGetDefaultImportConfig(static_cast<uint32_t>(load.format));
  const bool background = progress != nullptr && g_lib.TlxGetImportDone != nullptr && g_lib.TlxGetImportProgress;
  if (background) config.flags |= 1;
  const auto start = std::chrono::steady_clock::now();
  const std::string absolute = std::filesystem::absolute(path).string();
  g_lib.TlxImport(absolute.c_str(), &config);
  if (background) WaitForImport(progress);
  ReadImportResult(load);
  if (background && load.reported && load.result.code == kInvalidArguments) {
    // A build without the background thread refuses the mode: read on this thread instead.
    config.flags &= ~1u;
    g_lib.TlxImport(absolute.c_str(), &config);
    load = SLoad{true, kExitOk, {}, {}, false, load.format, load.size, 0};
    ReadImportResult(load);
  }
  load.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return load;
}

int ReportLoadFailure(const std::string& path, const SLoad& load) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), load.message.c_str());
  return load.exitCode;
}

bool TakeInventory(SInventory& inventory) {
  if (g_lib.TlxExport == nullptr || g_lib.TlxGetDefaultExportConfig == nullptr) {
    std::fprintf(stderr, "quorin: this build of the library cannot write interchange files\n");
    return false;
  }
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::filesystem::path temporary =
      std::filesystem::temp_directory_path() / ("quorin-inventory-" + std::to_string(stamp) + ".xml");
  const TlxExportConfig config = g_lib.TlxGetDefaultExportConfig(static_cast<uint32_t>(EFormat::kXml));
  g_lib.TlxExport(temporary.string().c_str(), &config);
  {
    std::ifstream in(temporary, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "quorin: the library could not write what it holds to %s\n", temporary.string().c_str());
      return false;
    }
    ReadInventory(in, inventory);
  }
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  return true;
}

TlxObject* ObjectOf(const TlxReference& reference) {
  return reference.kind == kPrototypeKind || reference.kind == kInstanceKind ? g_lib.TlxResolveObjectRef(&reference)
                                                                            : nullptr;
}

uint32_t TextIdMember(TlxObject* object, const char* member) { return Member<uint32_t>(object, member, kNoId32); }
TlxReference ReferenceMember(TlxObject* object, const char* member) {
  return Member<TlxReference>(object, member, {kNoId32, 0});
}
TlxListReference ListMember(TlxObject* object, const char* member) {
  return Member<TlxListReference>(object, member, {kNoId32, 0});
}
TlxScriptReference ScriptMember(TlxObject* object, const char* member) {
  return Member<TlxScriptReference>(object, member, {kNoId32, 0});
}

std::string TextOf(uint32_t textId) {
  const void* text = textId != kNoId32 ? g_lib.TlxGetText(textId) : nullptr;
  if (text == nullptr) return {};
  switch (g_lib.TlxGetTextEncoding(textId)) {
    case 1: return FromUtf16(static_cast<const uint16_t*>(text));
    case 2: {
      std::string out;
      for (const auto* code = static_cast<const uint32_t*>(text); *code != 0; ++code) AppendUtf8(out, *code);
      return out;
    }
    default: return static_cast<const char*>(text);
  }
}

std::string NodeTitle(TlxObject* node, size_t words) {
  if (node == nullptr) return "(missing)";
  if (node->classId == kLineClass) {
    const std::string speaker = TextOf(TextIdMember(ObjectOf(ReferenceMember(node, "Actor")), "Name"));
    const std::string line = FirstWords(TextOf(TextIdMember(node, "Text")), words);
    return speaker.empty() ? line : speaker + ": " + line;
  }
  const std::string name = TextOf(TextIdMember(node, "Name"));
  if (!name.empty()) return name;
  char id[16];
  std::snprintf(id, sizeof id, "#0x%X", g_lib.TlxGetObjectId(node));
  return id;
}

bool ReadPart(const TlxReference& reference, SPart& part) {
  TlxObject* object = ObjectOf(reference);
  if (object == nullptr || object->classId != kPartClass) return false;
  part.label = TextIdMember(object, "Label");
  part.condition = ScriptMember(object, "Condition");
  part.outcome = ScriptMember(object, "Outcome");
  part.target = ReferenceMember(object, "Target");
  return true;
}

std::vector<std::vector<TlxReference>> ConnectionsOf(TlxObject* node) {
  std::vector<std::vector<TlxReference>> connections;
  if (node != nullptr && node->classId == kJumpClass) {
    const TlxReference connection = ReferenceMember(node, "Connection");
    if (connection.kind != 0) connections.push_back({connection});
    return connections;
  }
  const TlxListReference listReference = ListMember(node, "Connections");
  const TlxReferenceList* list = listReference.kind != 0 ? g_lib.TlxResolveListRef2(&listReference) : nullptr;
  for (uint32_t i = 0; list != nullptr && i < list->count; ++i) {
    const TlxReferenceList* connection = g_lib.TlxResolveListRef(&list->entries[i]);
    if (connection != nullptr) connections.emplace_back(connection->entries, connection->entries + connection->count);
  }
  return connections;
}

bool IsFlowNode(uint16_t classId) {
  return classId == kLineClass || classId == kFlowClass || classId == kDialogClass || classId == kHubClass ||
         classId == kJumpClass;
}

}  // namespace QuorinTool
