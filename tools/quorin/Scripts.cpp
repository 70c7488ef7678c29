// quorin check and quorin eval: the story's Sprig scripts checked without running them, and one
// expression evaluated against the story's variables and objects.
#include <cstdio>
#include <cstring>
#include <set>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

namespace {

constexpr uint8_t kBoolean = 1, kInteger = 2, kFloat = 3, kString = 4, kInvalid = 5;
constexpr uint32_t kMessageSize = 256;

// Stands in for a host function the story calls: checks only need the name to be bound.
TlxSprigValue DeclaredFunction(const TlxSprigValue*, uint64_t) {
  TlxSprigValue value{};
  value.kind = kInvalid;
  return value;
}

struct SFault {
  uint32_t position = 0;
  char message[kMessageSize] = "";
};

// False with the first fault of the script; syntax alone where the library has no full check.
bool CheckScript(const std::string& text, SFault& fault) {
  if (g_lib.TlxSprigCheck != nullptr)
    return g_lib.TlxSprigCheck(text.c_str(), fault.message, kMessageSize, &fault.position);
  return g_lib.TlxSprigTryParse(text.c_str(), fault.message, kMessageSize, &fault.position);
}

class CChecker {
 public:
  explicit CChecker(std::string file) : m_file(std::move(file)) {}

  // Checks the scripts of a node's connections, printing its faults under the node's name.
  void CheckNode(const std::string& title, const std::vector<std::vector<TlxReference>>& connections) {
    m_title = title;
    for (const std::vector<TlxReference>& connection : connections)
      for (const TlxReference& reference : connection) CheckPart(reference);
  }
  void CheckPart(const TlxReference& reference) {
    SPart part;
    if (!ReadPart(reference, part) || !m_parts.insert({reference.id, reference.kind}).second) return;
    for (const TlxScriptReference& script : {part.condition, part.outcome}) {
      if (script.kind == kSprigScript && g_lib.TlxGetText(script.textId) != nullptr) CheckText(script.textId);
    }
  }
  bool Seen(const TlxReference& reference) const { return m_parts.count({reference.id, reference.kind}) != 0; }
  size_t Scripts() const { return m_scripts; }
  size_t Faults() const { return m_faults; }

 private:
  void CheckText(uint32_t textId) {
    ++m_scripts;
    SFault fault;
    if (CheckScript(TextOf(textId), fault)) return;
    if (!m_title.empty()) std::printf("%s: %s:\n", m_file.c_str(), m_title.c_str());
    m_title.clear();
    std::printf("%s: text 0x%X, position %u: %s\n", m_file.c_str(), textId, fault.position, fault.message);
    ++m_faults;
  }

  std::string m_file, m_title;
  std::set<std::pair<uint32_t, uint8_t>> m_parts;
  size_t m_scripts = 0, m_faults = 0;
};

std::string NodeHeading(TlxObject* node, const SObjectEntry& entry) {
  char id[32];
  std::snprintf(id, sizeof id, "%s 0x%X", entry.instance ? "instance" : "node", entry.id);
  return std::string(id) + " (" + NodeTitle(node, 6) + ")";
}

void CheckStory(CChecker& checker, const SInventory& inventory) {
  for (const SObjectEntry& entry : inventory.objects) {
    TlxObject* node = entry.instance ? g_lib.TlxGetInstance(entry.id) : g_lib.TlxGetPrototype(entry.id);
    if (node != nullptr && IsFlowNode(entry.classId)) checker.CheckNode(NodeHeading(node, entry), ConnectionsOf(node));
  }
  checker.CheckNode("connection parts of no node", {});
  for (const SObjectEntry& entry : inventory.objects) {
    const TlxReference reference{entry.id, entry.instance ? kInstanceKind : kPrototypeKind};
    if (entry.classId == kPartClass && !checker.Seen(reference)) checker.CheckPart(reference);
  }
}

std::string Describe(const TlxSprigValue& value) {
  char text[64];
  switch (value.kind) {
    case kBoolean: return value.payload != 0 ? "true (Boolean)" : "false (Boolean)";
    case kInteger: std::snprintf(text, sizeof text, "%d (Integer)", static_cast<int32_t>(value.payload)); return text;
    case kFloat: {
      float number = 0;
      std::memcpy(&number, &value.payload, sizeof number);
      std::snprintf(text, sizeof text, number == static_cast<int64_t>(number) ? "%.1f (Float)" : "%.9g (Float)", number);
      return text;
    }
    case kString: {
      auto* chars = reinterpret_cast<char*>(static_cast<uintptr_t>(value.payload));
      const std::string result = "\"" + std::string(chars != nullptr ? chars : "") + "\" (String)";
      g_lib.BrvFree(chars);
      return result;
    }
    default: return "Invalid";
  }
}

int ReportScriptError(const std::string& expression, const SFault& fault) {
  std::fprintf(stderr, "quorin eval: error at position %u: %s\n  %s\n  %*s^\n", fault.position, fault.message,
               expression.c_str(), static_cast<int>(fault.position), "");
  return kExitFaults;
}

}  // namespace

int RunCheck(const SCommandLine& line) {
  const std::string& file = line.positional[0];
  int exitCode = kExitOk;
  if (!LoadStory(file, exitCode)) return exitCode;
  g_lib.TlxRegisterDefaultClasses();
  for (const std::string& name : line.All("--function")) g_lib.TlxSprigBind(&DeclaredFunction, name.c_str());
  if (g_lib.TlxSprigCheck == nullptr) std::fprintf(stderr, "quorin check: this library checks syntax only\n");
  SInventory inventory;
  if (!TakeInventory(inventory)) {
    g_lib.TlxShutdown();
    return kExitUsage;
  }
  CChecker checker(file);
  CheckStory(checker, inventory);
  std::fprintf(stderr, "%s: %zu script%s checked, %zu fault%s\n", file.c_str(), checker.Scripts(),
               checker.Scripts() == 1 ? "" : "s", checker.Faults(), checker.Faults() == 1 ? "" : "s");
  g_lib.TlxShutdown();
  return checker.Faults() == 0 ? kExitOk : kExitFaults;
}

int RunEval(const SCommandLine& line) {
  const std::string& expression = line.positional[1];
  int exitCode = kExitOk;
  if (!LoadStory(line.positional[0], exitCode)) return exitCode;
  SFault fault;
  if (!g_lib.TlxSprigTryParse(expression.c_str(), fault.message, kMessageSize, &fault.position)) {
    exitCode = ReportScriptError(expression, fault);
  } else {
    const TlxSprigValue value = g_lib.TlxSprigExecute(expression.c_str());
    const uint32_t code = value.kind == kInvalid && g_lib.TlxSprigGetLastError != nullptr
                              ? g_lib.TlxSprigGetLastError(fault.message, kMessageSize, &fault.position)
                              : 0;
    if (code != 0) exitCode = ReportScriptError(expression, fault);
    else std::printf("%s\n", Describe(value).c_str());
  }
  g_lib.TlxShutdown();
  return exitCode;
}

}  // namespace QuorinTool
