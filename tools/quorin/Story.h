// Reading a story file into the library and finding one's way around what it holds: the load
// with its outcome, an inventory of every item (the library lists nothing itself, so the tool
// asks it to write what it holds and reads that), and the members of the default classes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/quorin/Library.h"

namespace QuorinTool {

constexpr uint32_t kNoId32 = 0xFFFFFFFF;
constexpr uint16_t kNoId16 = 0xFFFF;
constexpr uint16_t kPartClass = 0xFFC0, kFlowClass = 0xFFF1, kDialogClass = 0xFFD1, kLineClass = 0xFFDF,
                   kEntityClass = 0xFFEE, kHubClass = 0xFF0F, kJumpClass = 0xFFF0;
constexpr uint8_t kPrototypeKind = 1, kInstanceKind = 2, kListPrototypeKind = 3, kListInstanceKind = 4;
constexpr uint8_t kSprigScript = 1;

// Exit codes of every command.
constexpr int kExitOk = 0, kExitFaults = 1, kExitUsage = 2;

enum class EFormat : uint32_t { kXml = 0, kBinary = 1 };
const char* FormatName(EFormat format);
// The form of a file from its first bytes (an XML declaration or element: XML).
EFormat SniffFormat(const std::string& path);

struct SLoad {
  bool ok = false;
  int exitCode = kExitOk;      // when not ok: kExitUsage (file errors) or kExitFaults (content)
  std::string message;         // when not ok
  SInterchangeResult result{}; // zero when the library does not report outcomes
  bool reported = false;       // result holds the library's report
  EFormat format = EFormat::kXml;
  uint64_t size = 0;
  double seconds = 0;
};

// Starts the library (names recorded), with the standard Sprig functions bound when asked (they
// add their namespaces to what the library holds).
bool StartLibrary(bool bindFunctions);
// Imports `path` on the caller's thread, or polls a background import with `progress` (0..1).
SLoad ImportFile(const std::string& path, void (*progress)(float) = nullptr);
// Prints the load's failure on standard error as `path: message`; gives its exit code.
int ReportLoadFailure(const std::string& path, const SLoad& load);

struct SObjectEntry {
  uint32_t id;
  uint16_t classId;
  bool instance;
};

// Everything the library holds, as it writes it out.
struct SInventory {
  std::map<std::string, size_t> counts;  // by element: class, template, prototype, instance, list, text, ...
  std::vector<SObjectEntry> objects;
  std::vector<uint32_t> texts;
  std::vector<uint16_t> classes, templates;
  size_t namespaces = 0;
};
// False (with a message on standard error) when the library cannot write what it holds.
bool TakeInventory(SInventory& inventory);

// ---- Members of stored objects ----
TlxObject* ObjectOf(const TlxReference& reference);
uint32_t TextIdMember(TlxObject* object, const char* member);
TlxReference ReferenceMember(TlxObject* object, const char* member);
TlxListReference ListMember(TlxObject* object, const char* member);
TlxScriptReference ScriptMember(TlxObject* object, const char* member);
// A text in UTF-8 whatever its stored encoding; empty when absent.
std::string TextOf(uint32_t textId);
// "Speaker: first words…" for a line, the name of other nodes, "#id" when nothing else.
std::string NodeTitle(TlxObject* node, size_t words);

// One connection part as authored.
struct SPart {
  uint32_t label = kNoId32;
  TlxScriptReference condition{kNoId32, 0}, outcome{kNoId32, 0};
  TlxReference target{kNoId32, 0};
};
bool ReadPart(const TlxReference& reference, SPart& part);
// The connections leaving a node, each a list of part references: a node's "Connections", or
// a jump's one "Connection".
std::vector<std::vector<TlxReference>> ConnectionsOf(TlxObject* node);
bool IsFlowNode(uint16_t classId);

}  // namespace QuorinTool
