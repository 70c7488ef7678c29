// quorin play: walks a story as a game does. At each node it resolves the node's connections,
// offers the paths whose conditions hold, runs the chosen path's outcomes and moves to its target.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

namespace {

constexpr int kMostSteps = 1000;  // a story that loops for ever under --auto still ends
constexpr size_t kNoChoice = static_cast<size_t>(-1);

struct SPlayer {
  bool automatic = false;
  std::vector<size_t> chosen;  // --choose, 1-based
  size_t nextChosen = 0;
  bool failed = false;         // a --choose number named no offered choice
};

const TlxReferenceList* PartsOf(void* path) {
  if (g_lib.TlxGetPathParts != nullptr) return g_lib.TlxGetPathParts(path);
  return path != nullptr ? reinterpret_cast<const TlxReferenceList*>(static_cast<char*>(path) + sizeof(void*)) : nullptr;
}

// The label of the last labelled part of a path; empty when none has one.
std::string ChoiceLabel(void* path) {
  const TlxReferenceList* parts = PartsOf(path);
  for (uint32_t i = parts != nullptr ? parts->count : 0; i-- > 0;) {
    SPart part;
    if (ReadPart(parts->entries[i], part) && !TextOf(part.label).empty()) return TextOf(part.label);
  }
  return {};
}

bool ReadLine(std::string& line) {
  line.clear();
  int c = 0;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return c != EOF || !line.empty();
}

// The choice a typed line names, 1 to count, or 0 (blanks around the number are allowed).
size_t ParseChoice(const std::string& line, size_t count) {
  std::istringstream in(line);
  size_t chosen = 0;
  std::string rest;
  if (!(in >> chosen) || (in >> rest) || line.find_first_of("-+") != std::string::npos) return 0;
  return chosen <= count ? chosen : 0;
}

size_t AskChoice(size_t count) {
  std::string line;
  for (;;) {
    std::printf("  > ");
    std::fflush(stdout);
    if (!ReadLine(line)) return kNoChoice;
    const size_t chosen = ParseChoice(line, count);
    if (chosen != 0) return chosen - 1;
    std::printf("  Please type the number of a choice, 1 to %zu.\n", count);
  }
}

// The index of the path to take; kNoChoice when the input ended or a --choose number is wrong.
size_t PickChoice(SPlayer& player, size_t count) {
  if (player.automatic) return 0;
  if (player.nextChosen < player.chosen.size()) {
    const size_t chosen = player.chosen[player.nextChosen++];
    if (chosen >= 1 && chosen <= count) return chosen - 1;
    std::fprintf(stderr, "quorin play: choice %zu is not offered here (1 to %zu)\n", chosen, count);
    player.failed = true;
    return kNoChoice;
  }
  return AskChoice(count);
}

void ShowNode(TlxObject* node) {
  if (node->classId == kLineClass) {
    const std::string speaker = TextOf(TextIdMember(ObjectOf(ReferenceMember(node, "Actor")), "Name"));
    const std::string text = TextOf(TextIdMember(node, "Text"));
    if (speaker.empty()) std::printf("  %s\n", text.c_str());
    else std::printf("  %s: \"%s\"\n", speaker.c_str(), text.c_str());
  } else if (node->classId == kFlowClass || node->classId == kDialogClass) {
    std::printf("%s\n\n", TextOf(TextIdMember(node, "Name")).c_str());
  }
}

// The first child of a flow fragment or dialogue, where the walk goes into it.
TlxObject* FirstChild(TlxObject* node) {
  if (node->classId != kFlowClass && node->classId != kDialogClass) return nullptr;
  const TlxListReference children = ListMember(node, "Children");
  const TlxReferenceList* list = children.kind != 0 ? g_lib.TlxResolveListRef2(&children) : nullptr;
  return list != nullptr && list->count > 0 ? ObjectOf(list->entries[0]) : nullptr;
}

// One step: offer the open paths, run the chosen one's outcomes and give its target. `stopped`
// is set when no choice was made (end of input, or a wrong --choose number).
TlxObject* TakeStep(SPlayer& player, TlxObject* node, bool& stopped) {
  const TlxListReference connections = ListMember(node, "Connections");
  void** paths = g_lib.TlxResolveConnectionsWithIndirections(&connections);
  std::vector<void*> open;
  for (uint32_t i = 0; i < g_lib.TlxGetResolvedConnectionCount(paths); ++i)
    if (g_lib.TlxResolveConnectionConditions(paths[i])) open.push_back(paths[i]);
  // One unlabelled path just continues; anything else is offered.
  const bool offered = open.size() > 1 || (open.size() == 1 && !ChoiceLabel(open[0]).empty());
  for (size_t i = 0; offered && i < open.size(); ++i) {
    const std::string label = ChoiceLabel(open[i]);
    std::printf("    %zu) %s\n", i + 1, label.empty() ? "Continue" : label.c_str());
  }
  const size_t chosen = offered ? PickChoice(player, open.size()) : 0;
  stopped = offered && chosen == kNoChoice;
  TlxObject* next = nullptr;
  if (!stopped && chosen < open.size()) {
    if (offered) std::printf("  -> %s\n", ChoiceLabel(open[chosen]).c_str());
    if (offered) std::printf("\n");
    g_lib.TlxResolveConnectionOutcomes(open[chosen]);
    next = g_lib.TlxResolveConnectionTarget(open[chosen]);
  }
  g_lib.TlxFreeResolvedConnection(paths);
  return next;
}

// The first child of the lowest-numbered flow fragment, else the lowest-numbered line.
TlxObject* DefaultStart() {
  SInventory inventory;
  if (!TakeInventory(inventory)) return nullptr;
  std::sort(inventory.objects.begin(), inventory.objects.end(),
            [](const SObjectEntry& a, const SObjectEntry& b) { return a.instance < b.instance || (a.instance == b.instance && a.id < b.id); });
  for (const SObjectEntry& entry : inventory.objects) {
    TlxObject* object = entry.instance ? g_lib.TlxGetInstance(entry.id) : g_lib.TlxGetPrototype(entry.id);
    if (object != nullptr && FirstChild(object) != nullptr) return object;
  }
  for (const SObjectEntry& entry : inventory.objects)
    if (entry.classId == kLineClass) return entry.instance ? g_lib.TlxGetInstance(entry.id) : g_lib.TlxGetPrototype(entry.id);
  return nullptr;
}

bool ParseChoices(const std::string& text, std::vector<size_t>& chosen) {
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    uint32_t value = 0;
    if (!ParseId(item, value) || value == 0) return false;
    chosen.push_back(value);
  }
  return !chosen.empty();
}

int Walk(SPlayer& player, TlxObject* node) {
  int steps = 0;
  bool stopped = false;
  for (; node != nullptr && !stopped && steps < kMostSteps; ++steps) {
    ShowNode(node);
    TlxObject* child = FirstChild(node);
    node = child != nullptr ? child : TakeStep(player, node, stopped);
  }
  if (player.failed) return kExitUsage;
  if (stopped && !player.failed) std::printf("\n  (End of input: you leave the story.)\n");
  else if (steps == kMostSteps) std::printf("\n  (Stopped after %d steps: the story goes round in a loop.)\n", kMostSteps);
  else std::printf("\n  (The end.)\n");
  return kExitOk;
}

}  // namespace

int RunPlay(const SCommandLine& line) {
  SPlayer player;
  player.automatic = line.Has("--auto");
  uint32_t startId = kNoId32;
  if (line.values.count("--start") != 0 && !ParseId(line.Value("--start"), startId))
    return UsageError("play", "--start takes a node id, such as 0x1F or 31");
  if (line.values.count("--choose") != 0 && !ParseChoices(line.Value("--choose"), player.chosen))
    return UsageError("play", "--choose takes choice numbers separated by commas, such as 2,1,3");
  int exitCode = kExitOk;
  if (!LoadStory(line.positional[0], exitCode)) return exitCode;
  g_lib.TlxRegisterDefaultClasses();  // where the file did not bring them
  TlxObject* start = startId != kNoId32 ? g_lib.TlxGetPrototype(startId) : DefaultStart();
  if (start == nullptr || !IsFlowNode(start->classId)) {
    std::fprintf(stderr, "%s: %s\n", line.positional[0].c_str(),
                 startId != kNoId32 ? "the --start id names no node of the story" : "the story has no node to start at");
    g_lib.TlxShutdown();
    return kExitFaults;
  }
  TlxObject* flow = ObjectOf(ReferenceMember(start, "Parent"));
  if (flow != nullptr && start->classId != kFlowClass) std::printf("%s\n", TextOf(TextIdMember(flow, "Name")).c_str());
  exitCode = Walk(player, start);
  g_lib.TlxShutdown();
  return exitCode;
}

}  // namespace QuorinTool
