// DemoHost: a small game-side host. It loads QuorinCAPI at run time, looks up the exports it
// uses by name and plays a short story: at each node it resolves the node's connections, shows
// the choices whose conditions hold, takes one (read from standard input, or the first with
// --auto), runs its outcomes and moves on. Before the story it checks, quietly, a round of
// calls on story data and Sprig scripts; --verbose prints every one of those calls.
// Exit code 0 when every call behaved as the library promises, 1 otherwise, 2 for bad options.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "examples/HostLibrary.h"

namespace {

// The exports this host uses. To use another one, add its name here: the pointer type comes
// from the public header and the lookup is done by name when the library is loaded.
#define DEMO_EXPORTS(X)                                                                               \
  X(BrvMalloc) X(BrvRealloc) X(BrvFree) X(TlxInitialize) X(TlxShutdown) X(TlxClearRepository)          \
  X(TlxRegisterDefaultClasses) X(TlxGetClassSizeByte) X(TlxGetClassMemberOffset) X(TlxCreatePrototype) \
  X(TlxStorePrototypeClassData) X(TlxGetPrototype) X(TlxCreateInstanceFromPrototype) X(TlxGetInstance) \
  X(TlxReleaseInstance) X(TlxGetObjectId) X(TlxGetCMemberByName) X(TlxCreateText) X(TlxGetText)        \
  X(TlxCalculateTextId) X(TlxDebug_TryGetString) X(TlxCreateListPrototype) X(TlxGetListPrototype)     \
  X(TlxSprigExecute) X(TlxSprigGetVar) X(TlxSprigBind) X(TlxSprigBindStandardFunctions)                \
  X(TlxSprigParse) X(TlxSprigExecuteParsed) X(TlxSprigFreeNode)                                        \
  X(TlxResolveConnectionsWithIndirections) X(TlxGetResolvedConnectionCount)                            \
  X(TlxResolveConnectionConditions) X(TlxResolveConnectionOutcomes) X(TlxResolveConnectionTarget)      \
  X(TlxFreeResolvedConnection)

struct CExports {
#define DEMO_DECLARE(name) decltype(&::name) name = nullptr;
  DEMO_EXPORTS(DEMO_DECLARE)
#undef DEMO_DECLARE
};

CExports g_lib;  // host functions called by scripts reach the library through it
bool g_auto = false;
bool g_verbose = false;

bool BindExports(const CHostLibrary& library) {
  std::vector<const char*> missing;
#define DEMO_BIND(name)                                                      \
  g_lib.name = reinterpret_cast<decltype(g_lib.name)>(library.Find(#name)); \
  if (g_lib.name == nullptr) missing.push_back(#name);
  DEMO_EXPORTS(DEMO_BIND)
#undef DEMO_BIND
  for (const char* name : missing) std::printf("  missing export: %s\n", name);
  return missing.empty();
}

// Prints one call with its result (with --verbose, or always when the result is not the
// promised one, which fails the demo).
bool Report(const std::string& call, const std::string& result, bool asPromised) {
  if (g_verbose || !asPromised) {
    std::printf("  %-52s -> %s%s\n", call.c_str(), result.c_str(), asPromised ? "" : "   UNEXPECTED");
  }
  return asPromised;
}

// ---- Script values --------------------------------------------------------------------------

constexpr uint8_t kReference = 0, kBoolean = 1, kInteger = 2, kFloat = 3, kString = 4;

// Text of a script value; String payloads handed to the host are freed here with BrvFree.
std::string Describe(TlxSprigValue value, bool owned) {
  if (value.kind == kReference) {
    const auto* target = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(value.payload));
    return Describe(*target, false);
  }
  char text[64];
  switch (value.kind) {
    case kBoolean: return value.payload != 0 ? "true" : "false";
    case kInteger: std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(value.payload)); return text;
    case kFloat: {
      float f;
      std::memcpy(&f, &value.payload, sizeof f);
      std::snprintf(text, sizeof text, "%g", f);
      return text;
    }
    case kString: {
      auto* chars = reinterpret_cast<char*>(static_cast<uintptr_t>(value.payload));
      std::string s = "\"" + std::string(chars != nullptr ? chars : "") + "\"";
      if (owned) g_lib.BrvFree(chars);
      return s;
    }
    default: return "Invalid";
  }
}

std::string Run(const char* script) { return Describe(g_lib.TlxSprigExecute(script), true); }

int32_t Integer(const char* variable) {
  const TlxSprigValue reference = g_lib.TlxSprigGetVar(variable);
  if (reference.kind != kReference) return 0;
  const auto* value = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(reference.payload));
  return value->kind == kInteger ? static_cast<int32_t>(value->payload) : 0;
}

// A host function for scripts: {Host.Greet "name"} gives "Hello, name!" in a BrvMalloc block.
TlxSprigValue HostGreet(const TlxSprigValue* args, uint64_t count) {
  std::string name = count > 0 && args[0].kind == kString
                         ? reinterpret_cast<const char*>(static_cast<uintptr_t>(args[0].payload))
                         : "stranger";
  const std::string text = "Hello, " + name + "!";
  auto* block = static_cast<char*>(g_lib.BrvMalloc(text.size() + 1, 1));
  std::memcpy(block, text.c_str(), text.size() + 1);
  TlxSprigValue value{};
  value.payload = reinterpret_cast<uintptr_t>(block);
  value.kind = kString;
  return value;
}

// ---- Sections of the demo -----------------------------------------------------------------

// Before start-up the library has no allocator: the memory exports serve nothing and leave
// the host's own blocks alone.
bool ShowMemoryBeforeStart() {
  bool ok = Report("BrvMalloc(64, pool 1)", "null", g_lib.BrvMalloc(64, 1) == nullptr);
  ok = Report("BrvRealloc(null, 256, pool 0)", "null", g_lib.BrvRealloc(nullptr, 256, 0) == nullptr) && ok;
  std::vector<unsigned char> own(32, 0x5A);
  g_lib.BrvFree(own.data());
  return Report("BrvFree(a block of the host's own)", "ignored", own == std::vector<unsigned char>(32, 0x5A)) && ok;
}

std::string TextOf(uint32_t textId) {
  const void* text = g_lib.TlxGetText(textId);
  return text != nullptr ? static_cast<const char*>(text) : "(none)";
}

uint32_t TextMember(TlxObject* object, const char* member) {
  uint32_t id = 0xFFFFFFFF;
  if (const void* at = g_lib.TlxGetCMemberByName(object, member)) std::memcpy(&id, at, sizeof id);
  return id;
}

bool ShowStoryData() {
  bool ok = Report("TlxInitialize(17, RecordNames)", "true", g_lib.TlxInitialize(17, 1));
  g_lib.TlxRegisterDefaultClasses();
  ok = Report("TlxGetClassSizeByte(DialogFragment)", std::to_string(g_lib.TlxGetClassSizeByte(0xFFDF)),
              g_lib.TlxGetClassSizeByte(0xFFDF) == 31) && ok;
  ok = Report("TlxGetClassMemberOffset(DialogFragment, \"Text\")",
              std::to_string(g_lib.TlxGetClassMemberOffset(0xFFDF, "Text")),
              g_lib.TlxGetClassMemberOffset(0xFFDF, "Text") == 23) && ok;
  const uint32_t nameHash = g_lib.TlxCalculateTextId("Name");
  const char* recorded = g_lib.TlxDebug_TryGetString(nameHash);
  ok = Report("TlxDebug_TryGetString(hash of \"Name\")", recorded ? recorded : "null",
              recorded != nullptr && std::strcmp(recorded, "Name") == 0) && ok;

  g_lib.TlxCreateText(1, "Mara, the innkeeper");
  std::vector<uint8_t> entity(g_lib.TlxGetClassSizeByte(0xFFEE), 0);
  const uint32_t nameText = 1;
  std::memcpy(&entity[g_lib.TlxGetClassMemberOffset(0xFFEE, "Name")], &nameText, 4);
  g_lib.TlxCreatePrototype(10, 0xFFEE, 0xFFFF);
  g_lib.TlxStorePrototypeClassData(10, entity.data(), static_cast<uint32_t>(entity.size()));
  TlxObject* mara = g_lib.TlxCreateInstanceFromPrototype(100, 10);
  ok = Report("instance 100 of prototype 10: Name", TextOf(TextMember(mara, "Name")),
              mara != nullptr && mara->prototypeId == 10 && TextOf(TextMember(mara, "Name")) == "Mara, the innkeeper") && ok;
  g_lib.TlxReleaseInstance(100);
  ok = Report("TlxGetInstance(100) after TlxReleaseInstance", "null", g_lib.TlxGetInstance(100) == nullptr) && ok;

  const TlxReference refs[] = {{10, 1}, {100, 2}};
  g_lib.TlxCreateListPrototype(7, refs, 2);
  const TlxReferenceList* list = g_lib.TlxGetListPrototype(7);
  ok = Report("list prototype 7: count, first entry", list ? std::to_string(list->count) + ", prototype " +
                                                                 std::to_string(list->entries[0].id)
                                                           : "null",
              list != nullptr && list->count == 2 && list->entries[0].id == 10) && ok;
  g_lib.TlxClearRepository();
  return Report("TlxGetPrototype(10) after TlxClearRepository", "null", g_lib.TlxGetPrototype(10) == nullptr) && ok;
}

bool ShowScripts() {
  g_lib.TlxSprigBindStandardFunctions();
  g_lib.TlxSprigBind(&HostGreet, "Host.Greet");
  struct Line {
    const char* script;
    const char* expected;
  };
  const Line lines[] = {
      {"hero:gold = 25", "25"},
      {"hero:gold >= 20 && !hero:cursed", "true"},
      {"hero:gold -= {Math.Min 30, hero:gold - 5}", "5"},
      {"{String.Distance \"kitten\", \"sitting\"}", "3"},
      {"{Host.Greet \"Mara\"}", "\"Hello, Mara!\""},
      {"1 / 0", "Invalid"},
  };
  bool ok = true;
  for (const Line& line : lines) {
    const std::string result = Run(line.script);
    ok = Report(std::string("TlxSprigExecute(") + line.script + ")", result, result == line.expected) && ok;
  }
  TlxSprigExpression* parsed = g_lib.TlxSprigParse("hero:steps += 1");
  for (int i = 0; i < 3; ++i) g_lib.TlxSprigExecuteParsed(parsed);
  g_lib.TlxSprigFreeNode(parsed);
  ok = Report("TlxSprigExecuteParsed(\"hero:steps += 1\") three times", std::to_string(Integer("hero:steps")),
              Integer("hero:steps") == 3) && ok;
  g_lib.TlxClearRepository();
  return ok;
}

// ---- The story ------------------------------------------------------------------------------

constexpr uint16_t kPartClass = 0xFFC0, kFlowClass = 0xFFF1, kLineClass = 0xFFDF, kEntityClass = 0xFFEE,
                   kHubClass = 0xFF0F, kJumpClass = 0xFFF0;

// Builds the story through the exports: ids are the host's, data blocks laid out by member offsets.
class CStoryWriter {
 public:
  uint32_t Text(const char* text) {
    g_lib.TlxCreateText(m_nextText, text);
    return m_nextText++;
  }
  // A prototype of the class whose class data `fill` writes by member name.
  template <typename Fill>
  uint32_t Object(uint16_t classId, Fill&& fill) {
    std::vector<uint8_t> data(g_lib.TlxGetClassSizeByte(classId), 0);
    auto put = [&](const char* member, const void* value, size_t size) {
      std::memcpy(&data[g_lib.TlxGetClassMemberOffset(classId, member)], value, size);
    };
    fill(put);
    g_lib.TlxCreatePrototype(m_nextObject, classId, 0xFFFF);
    g_lib.TlxStorePrototypeClassData(m_nextObject, data.data(), static_cast<uint32_t>(data.size()));
    return m_nextObject++;
  }
  uint32_t List(const std::vector<TlxReference>& entries) {
    g_lib.TlxCreateListPrototype(m_nextList, entries.data(), static_cast<uint32_t>(entries.size()));
    return m_nextList++;
  }
  uint32_t Actor(const char* name) {
    const uint32_t text = Text(name);
    return Object(kEntityClass, [&](auto put) { put("Name", &text, 4); });
  }
  // A dialogue line with its speaker, parent and outgoing connections (a list of connections).
  uint32_t Line(uint32_t parent, uint32_t actor, const char* words, uint32_t connections = 0xFFFFFFFF) {
    const uint32_t text = Text(words);
    const TlxReference speaker{actor, 1}, up{parent, 1};
    const TlxListReference out{connections, uint8_t(connections == 0xFFFFFFFF ? 0 : 1)};
    return Object(kLineClass, [&](auto put) {
      put("Text", &text, 4);
      put("Actor", &speaker, 5);
      put("Parent", &up, 5);
      put("Connections", &out, 5);
    });
  }
  // A connection part with a label, an optional condition and outcome, and a target.
  uint32_t Part(TlxReference target, const char* label, const char* condition, const char* outcome) {
    const uint32_t labelText = label ? Text(label) : 0xFFFFFFFF;
    const TlxScriptReference cond{condition ? Text(condition) : 0xFFFFFFFF, uint8_t(condition ? 1 : 0)};
    const TlxScriptReference out{outcome ? Text(outcome) : 0xFFFFFFFF, uint8_t(outcome ? 1 : 0)};
    return Object(kPartClass, [&](auto put) {
      put("Label", &labelText, 4);
      put("Condition", &cond, 5);
      put("Outcome", &out, 5);
      put("Target", &target, 5);
    });
  }
  // A list of connections, each a one-part connection.
  uint32_t Connections(const std::vector<uint32_t>& parts) {
    std::vector<TlxReference> connections;
    for (uint32_t part : parts) connections.push_back({List({{part, 1}}), 3});
    return List(connections);
  }
  uint32_t ReserveObject() { return m_nextObject++; }
  uint32_t ReserveList() { return m_nextList++; }

 private:
  uint32_t m_nextObject = 1, m_nextList = 1, m_nextText = 1;
};

// The tavern: Mara greets you at a hub of three choices. An ale costs 3 gold (so it runs out),
// the rumour can be asked once, and leaving ends the story; the first two jump back to Mara.
uint32_t WriteTavernStory() {
  CStoryWriter story;
  g_lib.TlxSprigExecute("tavern:gold = 10");
  const uint32_t flowName = story.Text("The Crooked Lantern");
  const uint32_t flow = story.Object(kFlowClass, [&](auto put) { put("Name", &flowName, 4); });
  const uint32_t mara = story.Actor("Mara"), you = story.Actor("You");

  const uint32_t greetingConnections = story.ReserveList();  // filled once the hub exists
  const uint32_t greeting = story.Line(flow, mara, "Welcome to the Crooked Lantern, traveller. What'll it be?",
                                       greetingConnections);
  const uint32_t backPart = story.Part({greeting, 1}, nullptr, nullptr, nullptr);
  const uint32_t jumpBack = story.Object(kJumpClass, [&](auto put) {
    const TlxReference connection{backPart, 1};
    put("Connection", &connection, 5);
  });
  const uint32_t back = story.Connections({story.Part({jumpBack, 1}, nullptr, nullptr, nullptr)});
  const uint32_t ale = story.Line(flow, mara, "Mara slides a foaming mug across the bar.", back);
  const uint32_t rumour = story.Line(flow, mara, "They say lights burn in the old mill at midnight.", back);
  const uint32_t leave = story.Line(flow, you, "You pull your cloak tight and step into the night.");

  const uint32_t choices = story.Connections({
      story.Part({ale, 1}, "Buy an ale (3 gold)", "tavern:gold >= 3", "tavern:gold -= 3, tavern:ales += 1"),
      story.Part({rumour, 1}, "Ask about rumours", "!tavern:heardRumour", "tavern:heardRumour = true"),
      story.Part({leave, 1}, "Leave the tavern", nullptr, nullptr),
  });
  const uint32_t hub = story.Object(kHubClass, [&](auto put) {
    const TlxListReference out{choices, 1};
    put("Connections", &out, 5);
  });
  const TlxReference toHub[] = {{story.List({{story.Part({hub, 1}, nullptr, nullptr, nullptr), 1}}), 3}};
  g_lib.TlxCreateListPrototype(greetingConnections, toHub, 1);
  return greeting;
}

// The label of the last labelled part of a path, or "Continue".
std::string ChoiceLabel(void* path) {
  const auto* list = reinterpret_cast<const TlxReferenceList*>(static_cast<char*>(path) + sizeof(void*));
  for (uint32_t i = list->count; i-- > 0;) {
    TlxObject* part = list->entries[i].kind == 1 ? g_lib.TlxGetPrototype(list->entries[i].id) : nullptr;
    const uint32_t label = part != nullptr ? TextMember(part, "Label") : 0xFFFFFFFF;
    if (label != 0xFFFFFFFF && g_lib.TlxGetText(label) != nullptr) return TextOf(label);
  }
  return "Continue";
}

// Reads one line of standard input without its line end; false at the end of input.
bool ReadLine(std::string& line) {
  line.clear();
  int c = 0;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return c != EOF || !line.empty();
}

// The choice a line names, 1 to count, or 0 when it names none (blanks around it are allowed).
size_t ParseChoice(const std::string& line, size_t count) {
  const size_t first = line.find_first_not_of(" \t\r"), last = line.find_last_not_of(" \t\r");
  if (first == std::string::npos || last - first > 3) return 0;
  size_t chosen = 0;
  for (size_t i = first; i <= last; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    chosen = chosen * 10 + static_cast<size_t>(line[i] - '0');
  }
  return chosen <= count ? chosen : 0;
}

// The index of the chosen path, asked again until the input names one; `count` when the
// input ends first.
size_t PickChoice(size_t count) {
  if (g_auto) return 0;
  std::string line;
  for (;;) {
    std::printf("  > ");
    std::fflush(stdout);
    if (!ReadLine(line)) return count;
    const size_t chosen = ParseChoice(line, count);
    if (chosen != 0) return chosen - 1;
    std::printf("  Please type the number of a choice, 1 to %zu.\n", count);
  }
}

TlxObject* Referenced(TlxObject* object, const char* member) {
  TlxReference reference{0xFFFFFFFF, 0};
  if (const void* at = g_lib.TlxGetCMemberByName(object, member)) std::memcpy(&reference, at, 5);
  return reference.kind == 1 ? g_lib.TlxGetPrototype(reference.id) : nullptr;
}

void SayLine(TlxObject* node) {
  TlxObject* speaker = Referenced(node, "Actor");
  std::printf("\n  %s: \"%s\"\n", speaker ? TextOf(TextMember(speaker, "Name")).c_str() : "Narrator",
              TextOf(TextMember(node, "Text")).c_str());
}

// One step from `node`: resolve its connections, offer the paths whose conditions hold, run the
// chosen path's outcomes and give its target (null at the end of the story). `stopped` is set
// when the input ended before a choice.
TlxObject* TakeStep(TlxObject* node, bool& stopped) {
  TlxListReference connections{0xFFFFFFFF, 0};
  if (const void* at = g_lib.TlxGetCMemberByName(node, "Connections")) std::memcpy(&connections, at, 5);
  void** paths = g_lib.TlxResolveConnectionsWithIndirections(&connections);
  std::vector<void*> open;
  for (uint32_t i = 0; i < g_lib.TlxGetResolvedConnectionCount(paths); ++i)
    if (g_lib.TlxResolveConnectionConditions(paths[i])) open.push_back(paths[i]);
  // A single unlabelled path just continues; anything else is offered as choices.
  const bool offered = open.size() > 1 || (open.size() == 1 && ChoiceLabel(open[0]) != "Continue");
  if (offered) {
    std::printf("  (gold %d, ales %d)\n", Integer("tavern:gold"), Integer("tavern:ales"));
    for (size_t i = 0; i < open.size(); ++i) std::printf("    %zu) %s\n", i + 1, ChoiceLabel(open[i]).c_str());
  }
  TlxObject* next = nullptr;
  const size_t chosen = offered ? PickChoice(open.size()) : 0;
  stopped = chosen == open.size() && offered;
  if (chosen < open.size()) {
    if (offered) std::printf("  -> %s\n", ChoiceLabel(open[chosen]).c_str());
    g_lib.TlxResolveConnectionOutcomes(open[chosen]);
    next = g_lib.TlxResolveConnectionTarget(open[chosen]);
  }
  g_lib.TlxFreeResolvedConnection(paths);
  return next;
}

// Walks from the start node: resolve, offer what holds, take one, run its outcomes, move on.
bool PlayStory() {
  bool ok = Report("TlxInitialize(17, 0)", "true", g_lib.TlxInitialize(17, 0));
  g_lib.TlxRegisterDefaultClasses();
  TlxObject* node = g_lib.TlxGetPrototype(WriteTavernStory());
  TlxObject* flow = node != nullptr ? Referenced(node, "Parent") : nullptr;
  std::printf("%s%s\n", g_verbose ? "\n" : "", flow != nullptr ? TextOf(TextMember(flow, "Name")).c_str() : "(untitled)");
  std::printf(g_auto ? "(Played unattended: the first choice is taken each time.)\n"
                     : "(Type the number of a choice and press Enter; end of input leaves the story.)\n");
  constexpr int kMostLines = 50;
  int lines = 0;
  bool stopped = false;
  for (; node != nullptr && lines < kMostLines && !stopped; ++lines) {
    SayLine(node);
    node = TakeStep(node, stopped);
  }
  if (stopped) {
    std::printf("\n  (End of input: you leave the story after %d line%s. Run with --auto to play unattended.)\n",
                lines, lines == 1 ? "" : "s");
  } else {
    std::printf("\n  (The story ends after %d lines: gold %d, ales %d.)\n", lines, Integer("tavern:gold"),
                Integer("tavern:ales"));
    ok = Report("the walk reached an end", lines < kMostLines ? "yes" : "no", lines < kMostLines) && ok;
  }
  g_lib.TlxShutdown();
  return ok;
}

struct DemoStep {
  const char* title;
  bool (*run)();
};
// The checks come first: the memory exports are checked before the library starts.
constexpr DemoStep kChecks[] = {
    {"Memory before start-up (the allocator is created when the library starts)", &ShowMemoryBeforeStart},
    {"Story data: types, objects, texts and lists", &ShowStoryData},
    {"Sprig scripts: variables, standard and host functions", &ShowScripts},
};

constexpr const char* kUsage =
    "Usage: DemoHost [--auto] [--verbose]\n"
    "  Plays a short story through QuorinCAPI, which it loads from its own folder.\n"
    "  --auto     take the first choice at every branch (choices are read from standard input\n"
    "             otherwise, one number a line; the walk stops at the end of input)\n"
    "  --verbose  print every library call the demo checks, with its result\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--auto") {
      g_auto = true;
    } else if (option == "--verbose") {
      g_verbose = true;
    } else {
      std::fprintf(option == "--help" ? stdout : stderr, "%s", kUsage);
      return option == "--help" ? 0 : 2;
    }
  }
  CHostLibrary library;
  if (!library.Open()) {
    std::printf("Could not load %s: %s\n", library.Path().c_str(), library.Error().c_str());
    return 1;
  }
  if (g_verbose) std::printf("QuorinCAPI demo host\nLoaded %s\n", library.Path().c_str());
  if (!BindExports(library)) {
    std::printf("The library lacks exports this host needs.\n");
    return 1;
  }
  bool ok = true;
  for (const DemoStep& step : kChecks) {
    if (g_verbose) std::printf("\n%s:\n", step.title);
    ok = step.run() && ok;
  }
  if (g_verbose) std::printf("\nA story walked node by node:\n");
  ok = PlayStory() && ok;
  if (g_verbose || !ok) {
    std::printf("\n%s\n", ok ? "Demo finished: every call behaved as the library promises."
                             : "Demo finished with UNEXPECTED results.");
  }
  return ok ? 0 : 1;
}
