// quorin graph: the story's flow as a Graphviz graph. Lines are labelled by speaker and first
// words, hubs are diamonds and jumps arrows, and every connection's label, condition and outcome
// is written on its edge.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <set>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

namespace {

constexpr size_t kTitleWords = 6;

// A DOT string of the lines, joined by DOT's line breaks.
std::string Quoted(const std::vector<std::string>& lines) {
  std::string out = "\"";
  for (const std::string& line : lines) {
    if (&line != &lines.front()) out += "\\n";
    for (const char c : line) {
      if (c == '"' || c == '\\') out += '\\';
      out += c == '\n' ? ' ' : c;
    }
  }
  return out + "\"";
}

std::string NodeName(const TlxReference& reference) {
  return (reference.kind == kInstanceKind ? "i" : "p") + std::to_string(reference.id);
}

const char* ShapeOf(uint16_t classId) {
  switch (classId) {
    case kHubClass: return "shape=diamond, style=filled, fillcolor=\"#f3e3b5\"";
    case kJumpClass: return "shape=cds, style=filled, fillcolor=\"#cfe0f3\"";
    case kFlowClass:
    case kDialogClass: return "shape=folder";
    default: return "shape=box, style=rounded";
  }
}

// The edge text of one connection: its labels, then each condition and outcome.
std::vector<std::string> EdgeLabel(const std::vector<TlxReference>& parts) {
  std::vector<std::string> label;
  auto add = [&](const std::string& line) { label.push_back(line); };
  for (const TlxReference& reference : parts) {
    SPart part;
    if (!ReadPart(reference, part)) continue;
    if (!TextOf(part.label).empty()) add(TextOf(part.label));
    if (part.condition.kind != 0) add("if " + TextOf(part.condition.textId));
    // One line per step of a sequence, so long outcomes stay narrow.
    const std::string outcome = part.outcome.kind != 0 ? TextOf(part.outcome.textId) : "";
    for (size_t at = 0, end = 0; at < outcome.size(); at = end + 2) {
      end = std::min(outcome.find(", ", at), outcome.size());
      add((at == 0 ? "do " : "   ") + outcome.substr(at, end - at));
    }
  }
  return label;
}

// The targets a node leads to: each connection's last part's target (and a flow's first child).
std::vector<std::pair<TlxReference, std::vector<std::string>>> Edges(TlxObject* node) {
  std::vector<std::pair<TlxReference, std::vector<std::string>>> edges;
  for (const std::vector<TlxReference>& connection : ConnectionsOf(node)) {
    SPart last;
    if (!connection.empty() && ReadPart(connection.back(), last) && ObjectOf(last.target) != nullptr)
      edges.emplace_back(last.target, EdgeLabel(connection));
  }
  if (node->classId == kFlowClass || node->classId == kDialogClass) {
    const TlxListReference children = ListMember(node, "Children");
    const TlxReferenceList* list = children.kind != 0 ? g_lib.TlxResolveListRef2(&children) : nullptr;
    if (list != nullptr && list->count > 0 && ObjectOf(list->entries[0]) != nullptr) edges.emplace_back(list->entries[0], std::vector<std::string>{});
  }
  return edges;
}

void WriteNode(const TlxReference& reference, TlxObject* node) {
  const auto edges = Edges(node);
  // A line that leads nowhere ends the story: drawn with a double border.
  std::printf("  %s [label=%s, %s%s];\n", NodeName(reference).c_str(), Quoted({NodeTitle(node, kTitleWords)}).c_str(),
              ShapeOf(node->classId), edges.empty() ? ", peripheries=2" : "");
  for (const auto& [target, label] : edges) {
    const bool jump = node->classId == kJumpClass;
    std::printf("  %s -> %s", NodeName(reference).c_str(), NodeName(target).c_str());
    if (!label.empty() || jump) {
      std::printf(" [%s%s%s]", label.empty() ? "" : ("label=" + Quoted(label)).c_str(),
                  !label.empty() && jump ? ", " : "", jump ? "style=dashed" : "");
    }
    std::printf(";\n");
  }
}

// Every flow node, or those reachable from `from`, in the order they are met.
std::vector<TlxReference> NodesToDraw(const TlxReference* from, const SInventory& inventory) {
  std::vector<TlxReference> nodes;
  if (from == nullptr) {
    for (const SObjectEntry& entry : inventory.objects)
      if (IsFlowNode(entry.classId)) nodes.push_back({entry.id, entry.instance ? kInstanceKind : kPrototypeKind});
    return nodes;
  }
  std::set<std::pair<uint32_t, uint8_t>> seen{{from->id, from->kind}};
  std::deque<TlxReference> queue{*from};
  for (; !queue.empty(); queue.pop_front()) {
    nodes.push_back(queue.front());
    for (const auto& edge : Edges(ObjectOf(queue.front()))) {
      if (seen.insert({edge.first.id, edge.first.kind}).second) queue.push_back(edge.first);
    }
  }
  return nodes;
}

}  // namespace

int RunGraph(const SCommandLine& line) {
  uint32_t fromId = kNoId32;
  if (line.values.count("--from") != 0 && !ParseId(line.Value("--from"), fromId))
    return UsageError("graph", "--from takes a node id, such as 0x1F or 31");
  int exitCode = kExitOk;
  if (!LoadStory(line.positional[0], exitCode)) return exitCode;
  g_lib.TlxRegisterDefaultClasses();
  const TlxReference from{fromId, kPrototypeKind};
  SInventory inventory;
  if (fromId != kNoId32 && ObjectOf(from) == nullptr) {
    std::fprintf(stderr, "%s: the --from id names no node of the story\n", line.positional[0].c_str());
    exitCode = kExitFaults;
  } else if (fromId == kNoId32 && !TakeInventory(inventory)) {
    exitCode = kExitUsage;
  } else {
    std::printf("digraph story {\n  node [fontname=\"Helvetica\", fontsize=10];\n"
                "  edge [fontname=\"Helvetica\", fontsize=9];\n");
    for (const TlxReference& node : NodesToDraw(fromId != kNoId32 ? &from : nullptr, inventory))
      WriteNode(node, ObjectOf(node));
    std::printf("}\n");
  }
  g_lib.TlxShutdown();
  return exitCode;
}

}  // namespace QuorinTool
