// WriteSampleStory: writes the sample story "The Last Light at Carrow Point" through the
// library's exports and exports it as interchange files. Like a game, it loads QuorinCAPI at run
// time from its own folder and looks its exports up by name.
//   WriteSampleStory FOLDER   writes FOLDER/CarrowPoint.xml, and CarrowPoint.qbin (the binary
//                             form) where the library writes it
// Exit code 0 on success, 1 when the library cannot write a file, 2 for bad arguments.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "examples/HostLibrary.h"

namespace {

#define SAMPLE_EXPORTS(X)                                                                               \
  X(TlxInitialize) X(TlxShutdown) X(TlxRegisterDefaultClasses) X(TlxGetClassSizeByte)                    \
  X(TlxGetClassMemberOffset) X(TlxCreatePrototype) X(TlxStorePrototypeClassData) X(TlxCreateText)        \
  X(TlxCreateListPrototype) X(TlxSprigExecute) X(BrvFree)

struct CExports {
#define SAMPLE_DECLARE(name) decltype(&::name) name = nullptr;
  SAMPLE_EXPORTS(SAMPLE_DECLARE)
#undef SAMPLE_DECLARE
  void (*TlxExport)(const char*, const TlxExportConfig*) = nullptr;
  TlxExportConfig (*TlxGetDefaultExportConfig)(uint32_t) = nullptr;
  bool (*TlxGetInterchangeResult)(uint32_t, void*, char*, uint32_t) = nullptr;
};

CExports g_lib;

bool BindExports(const CHostLibrary& library) {
  bool ok = true;
#define SAMPLE_BIND(name)                                                    \
  g_lib.name = reinterpret_cast<decltype(g_lib.name)>(library.Find(#name)); \
  if (g_lib.name == nullptr) ok = false, std::fprintf(stderr, "WriteSampleStory: missing export %s\n", #name);
  SAMPLE_EXPORTS(SAMPLE_BIND)
  SAMPLE_BIND(TlxExport)
  SAMPLE_BIND(TlxGetDefaultExportConfig)
#undef SAMPLE_BIND
  g_lib.TlxGetInterchangeResult =
      reinterpret_cast<decltype(g_lib.TlxGetInterchangeResult)>(library.Find("TlxGetInterchangeResult"));
  return ok;
}

constexpr uint16_t kPartClass = 0xFFC0, kFlowClass = 0xFFF1, kLineClass = 0xFFDF, kEntityClass = 0xFFEE,
                   kHubClass = 0xFF0F, kJumpClass = 0xFFF0;
constexpr uint32_t kNone = 0xFFFFFFFF;

// Stores the story's objects, lists and texts with ids counted from 1, each kind on its own.
class CStoryWriter {
 public:
  uint32_t Text(const char* text) {
    g_lib.TlxCreateText(m_nextText, text);
    return m_nextText++;
  }
  // A prototype of the class whose class data `fill` writes member by member.
  template <typename TFill>
  uint32_t Object(uint16_t classId, TFill&& fill) {
    std::vector<uint8_t> data(g_lib.TlxGetClassSizeByte(classId), 0);
    auto put = [&](const char* member, const void* value, size_t size) {
      std::memcpy(&data[g_lib.TlxGetClassMemberOffset(classId, member)], value, size);
    };
    fill(put);
    g_lib.TlxCreatePrototype(m_nextObject, classId, 0xFFFF);
    g_lib.TlxStorePrototypeClassData(m_nextObject, data.data(), static_cast<uint32_t>(data.size()));
    return m_nextObject++;
  }
  uint32_t List(const std::vector<TlxReference>& entries) { return ListWithId(m_nextList++, entries); }
  uint32_t ListWithId(uint32_t id, const std::vector<TlxReference>& entries) {
    g_lib.TlxCreateListPrototype(id, entries.data(), static_cast<uint32_t>(entries.size()));
    return id;
  }
  uint32_t ReserveList() { return m_nextList++; }

 private:
  uint32_t m_nextObject = 1, m_nextList = 1, m_nextText = 1;
};

// One outgoing connection of a node: a label, a condition and an outcome (each may be null), and
// the target: a node id, or 0 for the node given later with Link.
struct SChoice {
  const char* label;
  const char* condition;
  const char* outcome;
  uint32_t target;
};

// The story's shape on top of the writer: speakers, lines, hubs and jumps, all in one flow.
class CSampleStory {
 public:
  CSampleStory() {
    const uint32_t title = m_writer.Text("The Last Light at Carrow Point");
    m_childrenList = m_writer.ReserveList();
    m_flow = m_writer.Object(kFlowClass, [&](auto put) {
      const TlxListReference children{m_childrenList, 1};
      put("Name", &title, 4);
      put("Children", &children, 5);
    });
  }
  uint32_t Speaker(const char* name) {
    const uint32_t text = m_writer.Text(name);
    return m_writer.Object(kEntityClass, [&](auto put) { put("Name", &text, 4); });
  }
  // A dialogue line whose connections are the given list (kNone: the story ends here).
  uint32_t Line(uint32_t speaker, const char* words, uint32_t connections) {
    const uint32_t text = m_writer.Text(words);
    return m_writer.Object(kLineClass, [&](auto put) {
      const TlxReference actor{speaker, uint8_t(speaker == kNone ? 0 : 1)}, parent{m_flow, 1};
      const TlxListReference out{connections, uint8_t(connections == kNone ? 0 : 1)};
      put("Text", &text, 4);
      put("Actor", &actor, 5);
      put("Parent", &parent, 5);
      put("Connections", &out, 5);
    });
  }
  uint32_t Part(const SChoice& choice) {
    const uint32_t label = choice.label != nullptr ? m_writer.Text(choice.label) : kNone;
    const TlxScriptReference condition{choice.condition ? m_writer.Text(choice.condition) : kNone,
                                       uint8_t(choice.condition ? 1 : 0)};
    const TlxScriptReference outcome{choice.outcome ? m_writer.Text(choice.outcome) : kNone,
                                     uint8_t(choice.outcome ? 1 : 0)};
    const TlxReference target{choice.target, 1};
    return m_writer.Object(kPartClass, [&](auto put) {
      put("Label", &label, 4);
      put("Condition", &condition, 5);
      put("Outcome", &outcome, 5);
      put("Target", &target, 5);
    });
  }
  // A list of one-part connections, one per choice, with the id `listId` (0: the next free).
  uint32_t Connections(const std::vector<SChoice>& choices, uint32_t listId = 0) {
    std::vector<TlxReference> connections;
    for (const SChoice& choice : choices) connections.push_back({m_writer.List({{Part(choice), 1}}), 3});
    return listId == 0 ? m_writer.List(connections) : m_writer.ListWithId(listId, connections);
  }
  uint32_t Next(uint32_t target) { return Connections({{nullptr, nullptr, nullptr, target}}); }
  uint32_t Hub(const char* name, const std::vector<SChoice>& choices) {
    const uint32_t text = m_writer.Text(name), list = Connections(choices);
    return Node(kHubClass, [&](auto put) {
      const TlxListReference out{list, 1};
      const TlxReference parent{m_flow, 1};
      put("Name", &text, 4);
      put("Parent", &parent, 5);
      put("Connections", &out, 5);
    });
  }
  // A jump to `target`: the line before it leads on to the jump, the jump to `target`.
  uint32_t JumpTo(const char* name, uint32_t target) {
    const uint32_t text = m_writer.Text(name), part = Part({nullptr, nullptr, nullptr, target});
    return Node(kJumpClass, [&](auto put) {
      const TlxReference connection{part, 1}, parent{m_flow, 1};
      put("Name", &text, 4);
      put("Parent", &parent, 5);
      put("Connection", &connection, 5);
    });
  }
  uint32_t ReserveList() { return m_writer.ReserveList(); }
  void Finish(uint32_t firstNode) { m_writer.ListWithId(m_childrenList, {{firstNode, 1}}); }

 private:
  template <typename TFill>
  uint32_t Node(uint16_t classId, TFill&& fill) { return m_writer.Object(classId, fill); }

  CStoryWriter m_writer;
  uint32_t m_flow = 0, m_childrenList = 0;
};

constexpr const char* kStart =
    "story:trust = 0, story:oil = 2, story:lampTended = 0, story:gaveCoat = false, story:askedWreck = false, "
    "story:askedWhy = false, story:brannSeen = false";

// The endings, chosen by what happened on the night: whether the lamp burned, whether Tomas came
// to trust Ilse, and whether she saw the other survivor's lantern from the gallery.
uint32_t WriteEndings(CSampleStory& story, uint32_t ilse, uint32_t tomas) {
  const uint32_t end = kNone, narrator = kNone;
  const uint32_t reunion = story.Line(narrator, "At first light a dory scrapes onto the shingle below the tower.",
      story.Next(story.Line(tomas, "Brann! You old fool, you followed the light.",
      story.Next(story.Line(ilse, "That is what it is for.",
      story.Next(story.Line(narrator, "The harbour board's letter goes into the stove. Carrow Point keeps its light a while longer.", end)))))));
  const uint32_t keeper = story.Line(tomas, "The board wants a keeper who knows these rocks. I could learn them.",
      story.Next(story.Line(ilse, "Then start with the steps. There are a hundred and twelve of them.",
      story.Next(story.Line(narrator, "Two keepers climb to the lamp that evening. The letter stays unanswered.", end)))));
  const uint32_t alone = story.Line(narrator, "At dawn the chair by the stove is empty, and the door stands open.",
      story.Next(story.Line(ilse, "He left the letter on the table. He never meant to stay.",
      story.Next(story.Line(narrator, "Ilse keeps the light alone until the board's boat comes for her in the spring.", end)))));
  const uint32_t dark = story.Line(narrator, "Towards morning the lamp gutters and goes out. Nobody climbed to trim it.",
      story.Next(story.Line(tomas, "There was a lantern on the water. Now there is nothing.",
      story.Next(story.Line(ilse, "Then the board is right. Carrow Point has no keeper.", end)))));
  return story.Hub("Morning", {
      {nullptr, "story:lampTended == 0", nullptr, dark},
      {nullptr, "story:lampTended > 0 && story:trust < 2", nullptr, alone},
      {nullptr, "story:lampTended > 0 && story:trust >= 2 && story:brannSeen", nullptr, reunion},
      {nullptr, "story:lampTended > 0 && story:trust >= 2 && !story:brannSeen", nullptr, keeper},
  });
}

// The night in the kitchen: a hub of choices that open and close with what Ilse has done.
uint32_t WriteStory(CSampleStory& story) {
  const uint32_t ilse = story.Speaker("Ilse"), tomas = story.Speaker("Tomas"), narrator = kNone;
  const uint32_t kitchenConnections = story.ReserveList();  // filled once the hub exists
  const uint32_t kitchen = story.Line(ilse, "Sit by the stove. What now?", kitchenConnections);
  auto back = [&](const char* name) { return story.Next(story.JumpTo(name, kitchen)); };

  const uint32_t coat = story.Line(ilse, "Here. It was my father's, and it is dry.",
      story.Next(story.Line(tomas, "It still smells of lamp oil. Thank you.", back("Back to the stove"))));
  const uint32_t wreck = story.Line(tomas, "The Merrow. Three of us aboard when she struck the Teeth.",
      story.Next(story.Line(ilse, "Three? Where are the other two?",
      story.Next(story.Line(tomas, "I saw a lantern on the water after she went down. Then nothing.", back("Back to the stove"))))));
  const uint32_t why = story.Line(tomas, "I was carrying a letter for the keeper of this light.",
      story.Next(story.Line(ilse, "For me? Nobody writes to Carrow Point.",
      story.Next(story.Line(tomas, "The harbour board means to close it. They want the lamp dark by spring.",
      story.Next(story.Line(ilse, "So you rowed into a storm to tell me I am finished.",
      story.Next(story.Line(tomas, "I rowed to tell you before they did.", back("Back to the stove"))))))))));
  const uint32_t lamp = story.Line(narrator, "Ilse climbs the hundred and twelve steps and trims the wick. The beam sweeps the Teeth.",
      story.Next(story.Line(ilse, "Burn bright. Someone else may still be out there.", back("Down the stairs"))));
  const uint32_t lantern = story.Line(ilse, "From the gallery I saw a light to the north, bobbing on the swell.",
      story.Next(story.Line(tomas, "That is Brann's lantern. He is alive, and he can see your lamp.", back("Back to the stove"))));
  const uint32_t watch = story.Line(ilse, "Sleep now. I will keep the watch.",
      story.Next(story.Line(narrator, "The storm wears itself out towards morning.",
      story.Next(WriteEndings(story, ilse, tomas)))));

  const uint32_t hub = story.Hub("What Ilse does", {
      {"Give him your dry coat", "!story:gaveCoat", "story:gaveCoat = true, story:trust += 1", coat},
      {"Ask about the wreck", "!story:askedWreck", "story:askedWreck = true", wreck},
      {"Ask why he sailed in a storm", "story:askedWreck && !story:askedWhy", "story:askedWhy = true, story:trust += 1", why},
      {"Climb up and tend the lamp", "story:oil > 0", "story:oil -= 1, story:lampTended += 1", lamp},
      {"Tell him about the light to the north", "story:askedWreck && story:lampTended > 0 && !story:brannSeen",
       "story:brannSeen = true", lantern},
      {"Send him to sleep and keep the watch", "story:askedWreck", nullptr, watch},
  });
  story.Connections({{nullptr, nullptr, nullptr, hub}}, kitchenConnections);

  const uint32_t opening = story.Line(narrator, "Rain hammers the lighthouse door. Somebody is knocking.",
      story.Connections({{nullptr, nullptr, kStart,
      story.Line(tomas, "Please, keeper. My boat went down on the rocks.",
      story.Next(story.Line(ilse, "Come in, then, and shut the door behind you.",
      story.Next(story.Line(tomas, "Tomas Vell, of Harrowmouth. I owe you my life.", story.Next(kitchen))))))}}));
  return opening;
}

// Exports the story to `path`; false when the library reports a failure or wrote nothing.
bool Export(const std::string& path, uint32_t format) {
  TlxExportConfig config = g_lib.TlxGetDefaultExportConfig(format);
  g_lib.TlxExport(path.c_str(), &config);
  uint32_t result[8] = {};
  const bool reported = g_lib.TlxGetInterchangeResult != nullptr && g_lib.TlxGetInterchangeResult(0, result, nullptr, 0);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const bool written = file != nullptr && std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > 0;
  if (file != nullptr) std::fclose(file);
  if ((reported && result[0] != 0) || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "Usage: WriteSampleStory FOLDER\n  Writes the sample story into FOLDER as interchange files.\n");
    return 2;
  }
  CHostLibrary library;
  if (!library.Open()) {
    std::fprintf(stderr, "WriteSampleStory: could not load %s: %s\n", library.Path().c_str(), library.Error().c_str());
    return 1;
  }
  if (!BindExports(library) || !g_lib.TlxInitialize(17, 1)) return 1;
  g_lib.TlxRegisterDefaultClasses();
  CSampleStory story;
  story.Finish(WriteStory(story));
  // The file carries the variables as the story starts, so tools can evaluate against them.
  g_lib.TlxSprigExecute(kStart);
  const std::string folder = argv[1];
  const bool ok = Export(folder + "/CarrowPoint.xml", 0);
  if (!ok) std::fprintf(stderr, "WriteSampleStory: the library could not write %s/CarrowPoint.xml\n", folder.c_str());
  // The binary form is written where the library offers it.
  if (ok && !Export(folder + "/CarrowPoint.qbin", 1)) {
    std::fprintf(stderr, "WriteSampleStory: this library does not write the binary form; only XML written\n");
  }
  g_lib.TlxShutdown();
  return ok ? 0 : 1;
}
