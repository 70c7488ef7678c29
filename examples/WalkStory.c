/* WalkStory: a C host that links QuorinCAPI, stores a small story with the default catalogue and
 * walks it node by node. docs/story-model.md quotes it.
 *   WalkStory [choice...]   the choice to take (1, 2, ...) at each branch; default: 1 1
 * A choice that is not offered, or the end of the list, ends the walk at that branch. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <QuorinCAPI.h>

enum { kPartClass = 0xFFC0, kLineClass = 0xFFDF, kEntityClass = 0xFFEE, kHubClass = 0xFF0F, kJumpClass = 0xFFF0 };
#define NO_ID 0xFFFFFFFFu
#define MOST_CHOICES 8

/* ---- Storing the story ---------------------------------------------------------------------- */

static uint32_t g_nextText = 1;

/* A new text; NO_ID for none. */
static uint32_t Text(const char* text) {
  if (text == NULL) return NO_ID;
  TlxCreateText(g_nextText, text);
  return g_nextText++;
}

/* Class data is packed: every member is copied to the offset the catalogue gives it. */
static void Put(uint8_t* data, uint16_t classId, const char* member, const void* value, size_t size) {
  memcpy(data + TlxGetClassMemberOffset(classId, member), value, size);
}

static void Store(uint32_t id, uint16_t classId, const uint8_t* data) {
  TlxCreatePrototype(id, classId, 0xFFFF);
  TlxStorePrototypeClassData(id, data, TlxGetClassSizeByte(classId));
}

/* A connection part: its label, Sprig condition and outcome (NULL for none) and its target. */
static void Part(uint32_t id, const char* label, const char* condition, const char* outcome, uint32_t target) {
  uint8_t data[64] = {0};
  const uint32_t labelText = Text(label);
  const TlxScriptReference when = {Text(condition), condition != NULL ? 1 : 0};
  const TlxScriptReference then = {Text(outcome), outcome != NULL ? 1 : 0};
  const TlxReference to = {target, 1};
  Put(data, kPartClass, "Label", &labelText, sizeof labelText);
  Put(data, kPartClass, "Condition", &when, sizeof when);
  Put(data, kPartClass, "Outcome", &then, sizeof then);
  Put(data, kPartClass, "Target", &to, sizeof to);
  Store(id, kPartClass, data);
}

/* A connection is a list of parts; these have one part each. */
static void Connection(uint32_t listId, uint32_t part) {
  const TlxReference entry = {part, 1};
  TlxCreateListPrototype(listId, &entry, 1);
}

/* A node's outgoing connections: a list whose entries name connection lists (kind 3). */
static TlxListReference Outgoing(uint32_t listId, const uint32_t* connections, uint32_t count) {
  TlxReference entries[MOST_CHOICES];
  for (uint32_t i = 0; i < count; ++i) {
    entries[i].id = connections[i];
    entries[i].kind = 3;
  }
  TlxCreateListPrototype(listId, entries, count);
  const TlxListReference outgoing = {listId, 1};
  return outgoing;
}

static void Line(uint32_t id, uint32_t speaker, const char* words, TlxListReference outgoing) {
  uint8_t data[64] = {0};
  const uint32_t text = Text(words);
  const TlxReference actor = {speaker, 1};
  Put(data, kLineClass, "Text", &text, sizeof text);
  Put(data, kLineClass, "Actor", &actor, sizeof actor);
  Put(data, kLineClass, "Connections", &outgoing, sizeof outgoing);
  Store(id, kLineClass, data);
}

static void Entity(uint32_t id, const char* name) {
  uint8_t data[64] = {0};
  const uint32_t text = Text(name);
  Put(data, kEntityClass, "Name", &text, sizeof text);
  Store(id, kEntityClass, data);
}

/* The toll bridge: a troll asks five coins, you have four. At the hub you may pay (when you can
 * afford it), haggle once (the toll drops to four and the troll's answer leads back to the hub)
 * or turn back through a jump to the river road. Gives the id of the first node. */
static uint32_t WriteStory(void) {
  const TlxListReference none = {NO_ID, 0};
  TlxRegisterDefaultClasses();
  TlxSprigExecute("purse:coins = 4, bridge:toll = 5");
  Entity(1, "Troll");
  Entity(2, "You");

  Part(21, "Pay the toll", "purse:coins >= bridge:toll", "purse:coins -= bridge:toll", 11);
  Part(22, "Haggle", "!bridge:haggled", "bridge:haggled = true, bridge:toll -= 1", 12);
  Part(23, "Turn back", NULL, NULL, 40);
  Part(24, NULL, NULL, NULL, 13);
  uint8_t jump[64] = {0};
  const TlxReference jumpTo = {24, 1};
  Put(jump, kJumpClass, "Connection", &jumpTo, sizeof jumpTo);
  Store(40, kJumpClass, jump);
  Connection(103, 21);
  Connection(104, 22);
  Connection(105, 23);
  const uint32_t choices[] = {103, 104, 105};
  uint8_t hub[64] = {0};
  const TlxListReference hubOut = Outgoing(102, choices, 3);
  Put(hub, kHubClass, "Connections", &hubOut, sizeof hubOut);
  Store(30, kHubClass, hub);

  Part(20, NULL, NULL, NULL, 30);
  Connection(101, 20);
  const uint32_t toHub[] = {101};
  Line(10, 1, "Five coins to cross. Or turn back.", Outgoing(100, toHub, 1));
  Line(12, 1, "Four, then, and not a coin less.", Outgoing(106, toHub, 1));
  Line(11, 1, "The troll steps aside, grumbling.", none);
  Line(13, 2, "You take the long road by the river.", none);
  return 10;
}

/* ---- Walking it ----------------------------------------------------------------------------- */

static char** g_choices;
static int g_choiceCount;

/* The next choice asked for (0-based); past the end of the list, one that is never offered. */
static unsigned NextChoice(void) {
  if (g_choiceCount == 0) return MOST_CHOICES;
  --g_choiceCount;
  return (unsigned)atoi(*g_choices++) - 1u;
}

/* Copies a member out of an object's class data (members are packed, so they may be unaligned);
 * leaves `out` alone when the object or the member is absent. */
static void ReadMember(TlxObject* object, const char* member, void* out, size_t size) {
  const void* at = object != NULL ? TlxGetCMemberByName(object, member) : NULL;
  if (at != NULL) memcpy(out, at, size);
}

/* The text a TextId member names; NULL when there is none. */
static const char* TextMember(TlxObject* object, const char* member) {
  uint32_t id = NO_ID;
  ReadMember(object, member, &id, sizeof id);
  return (const char*)TlxGetText(id);
}

/* The label of a path: that of the last part on it that has one; NULL when none has. */
static const char* PathLabel(void* path) {
  const TlxReferenceList* parts = TlxGetPathParts(path);
  for (uint32_t i = parts->count; i-- > 0;) {
    const char* label = TextMember(TlxResolveObjectRef(&parts->entries[i]), "Label");
    if (label != NULL) return label;
  }
  return NULL;
}

static void Say(TlxObject* node) {
  TlxReference actor = {NO_ID, 0};
  ReadMember(node, "Actor", &actor, sizeof actor);
  printf("%s: \"%s\"\n", TextMember(TlxResolveObjectRef(&actor), "Name"), TextMember(node, "Text"));
}

/* One step: resolve the node's outgoing connections into paths, keep those whose conditions
 * hold, offer them when there is a choice, run the chosen path's outcomes and return its
 * target: the next node, or NULL where the walk ends. */
static TlxObject* Step(TlxObject* node) {
  TlxListReference outgoing = {NO_ID, 0};
  ReadMember(node, "Connections", &outgoing, sizeof outgoing);
  void** paths = TlxResolveConnectionsWithIndirections(&outgoing);
  void* open[MOST_CHOICES];
  unsigned count = 0;
  for (uint32_t i = 0; i < TlxGetResolvedConnectionCount(paths) && count < MOST_CHOICES; ++i) {
    if (TlxResolveConnectionConditions(paths[i])) open[count++] = paths[i];
  }
  unsigned chosen = 0;
  if (count > 1 || (count == 1 && PathLabel(open[0]) != NULL)) {
    for (unsigned i = 0; i < count; ++i) {
      printf("  %u) %s  (a path of %u parts)\n", i + 1, PathLabel(open[i]), TlxGetPathParts(open[i])->count);
    }
    chosen = NextChoice();
    if (chosen < count) printf("  -> %s\n", PathLabel(open[chosen]));
  }
  TlxObject* next = NULL;
  if (chosen < count) {
    TlxResolveConnectionOutcomes(open[chosen]);
    next = TlxResolveConnectionTarget(open[chosen]);
  }
  TlxFreeResolvedConnection(paths);
  return next;
}

int main(int argc, char** argv) {
  static char* defaults[] = {"1", "1"};
  g_choices = argc > 1 ? argv + 1 : defaults;
  g_choiceCount = argc > 1 ? argc - 1 : 2;
  if (!TlxInitialize(17, 0)) return 1;
  TlxObject* node = TlxGetPrototype(WriteStory());
  while (node != NULL) {
    Say(node);
    node = Step(node);
  }
  const TlxSprigValue coins = TlxSprigExecute("purse:coins");
  printf("(The walk ends with %d coins in the purse.)\n", (int)(int32_t)coins.payload);
  TlxShutdown();
  return 0;
}
