/* minimal: a plain-C host that loads QuorinCAPI by name, stores a three-node story with one
 * conditional choice, walks it, runs scripts that call a host function, reports a script error
 * and shuts down. It uses only what QuorinCAPI.h documents.
 *   minimal [--limit BYTES] [LIBRARY]
 * --limit starts the library with a byte limit and TLX_START_CONTAIN_OUT_OF_MEMORY, so running
 * out of memory gives absent results (reported below) instead of a C++ exception. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "QuorinCAPI.h"

#if defined(_WIN32)
#include <windows.h>
#define LIBRARY_NAME "QuorinCAPI.dll"
static void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }
static void* FindExport(void* library, const char* name) {
  FARPROC function = GetProcAddress((HMODULE)library, name);
  void* address;
  memcpy(&address, &function, sizeof address);
  return address;
}
static void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }
#else
#include <dlfcn.h>
#define LIBRARY_NAME "libQuorinCAPI.so.0"
static void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* FindExport(void* library, const char* name) { return dlsym(library, name); }
static void CloseLibrary(void* library) { dlclose(library); }
#endif

/* One function pointer per export, declared and loaded from the header's list. */
#define DECLARE(type, name, parameters) type (*name) parameters;
static struct { QUORIN_CAPI_EXPORTS(DECLARE) } q;

static int LoadExports(void* library) {
  void* address;
#define LOAD(type, name, parameters)                                          \
  if ((address = FindExport(library, #name)) == NULL) {                       \
    fprintf(stderr, "the library has no %s\n", #name);                        \
    return 0;                                                                 \
  }                                                                           \
  memcpy(&q.name, &address, sizeof address);
  QUORIN_CAPI_EXPORTS(LOAD)
  return 1;
}

/* The host function {Toll.Price}: what crossing the bridge costs. */
static TlxSprigValue TollPrice(const TlxSprigValue* args, uint64_t count) {
  TlxSprigValue price;
  (void)args;
  (void)count;
  memset(&price, 0, sizeof price);
  price.kind = TLX_SPRIG_INTEGER;
  price.payload = (uint32_t)5;
  return price;
}

/* Members of a class's data block (64 bytes here) are packed: copy each to its offset. An
 * unknown class or member (TLX_NO_ID32: not registered, or out of memory) is skipped. */
static void Put(uint8_t* data, uint16_t classId, const char* member, const void* value, size_t size) {
  const uint32_t offset = q.TlxGetClassMemberOffset(classId, member);
  if (offset != TLX_NO_ID32 && offset + size <= 64) memcpy(data + offset, value, size);
}

static void Store(uint32_t id, uint16_t classId, const uint8_t* data) {
  q.TlxCreatePrototype(id, classId, TLX_NO_ID16);
  q.TlxStorePrototypeClassData(id, data, q.TlxGetClassSizeByte(classId));
}

/* A line of dialogue (node id = its text id) and the connection lists that leave it. */
static void Line(uint32_t id, const char* text, const uint32_t* connections, uint32_t count) {
  uint8_t data[64] = {0};
  TlxReference entries[2];
  TlxListReference outgoing;
  uint32_t i;
  for (i = 0; i < count; ++i) {
    entries[i].id = connections[i];
    entries[i].kind = TLX_REF_LIST_PROTOTYPE;
  }
  q.TlxCreateListPrototype(300 + id, entries, count);
  outgoing.id = 300 + id;
  outgoing.kind = TLX_LIST_REF_PROTOTYPE;
  q.TlxCreateText(id, text);
  Put(data, TLX_CLASS_DIALOG_FRAGMENT, "Text", &id, sizeof id);
  Put(data, TLX_CLASS_DIALOG_FRAGMENT, "Connections", &outgoing, sizeof outgoing);
  Store(id, TLX_CLASS_DIALOG_FRAGMENT, data);
}

/* A connection of one part: label, Sprig condition and outcome (NULL: none), target node. */
static void Choice(uint32_t id, const char* label, const char* condition, const char* outcome, uint32_t target) {
  uint8_t data[64] = {0};
  TlxScriptReference when, then;
  TlxReference to, part;
  const uint32_t labelText = 100 + id;
  when.textId = 110 + id;
  when.kind = condition != NULL ? TLX_SCRIPT_SPRIG : TLX_SCRIPT_NOT_SET;
  then.textId = 120 + id;
  then.kind = outcome != NULL ? TLX_SCRIPT_SPRIG : TLX_SCRIPT_NOT_SET;
  to.id = target;
  to.kind = TLX_REF_PROTOTYPE;
  q.TlxCreateText(labelText, label);
  if (condition != NULL) q.TlxCreateText(when.textId, condition);
  if (outcome != NULL) q.TlxCreateText(then.textId, outcome);
  Put(data, TLX_CLASS_CONNECTION_PART, "Label", &labelText, sizeof labelText);
  Put(data, TLX_CLASS_CONNECTION_PART, "Condition", &when, sizeof when);
  Put(data, TLX_CLASS_CONNECTION_PART, "Outcome", &then, sizeof then);
  Put(data, TLX_CLASS_CONNECTION_PART, "Target", &to, sizeof to);
  Store(100 + id, TLX_CLASS_CONNECTION_PART, data);
  part.id = 100 + id;
  part.kind = TLX_REF_PROTOTYPE;
  q.TlxCreateListPrototype(200 + id, &part, 1);
}

/* Reads a member of an object's class data; zeros when the data is absent. */
static void Get(const TlxObject* object, const char* member, void* value, size_t size) {
  const void* at = object != NULL ? q.TlxGetConstCMemberByName((TlxObject*)object, member) : NULL;
  if (at != NULL) memcpy(value, at, size);
  else memset(value, 0, size);
}

static const char* TextOf(uint32_t textId) {
  const char* text = (const char*)q.TlxResolveTextRef(textId);
  return text != NULL ? text : "(absent)";
}

/* Shows the node, takes the first choice whose conditions hold; the next node or NULL. */
static TlxObject* Step(TlxObject* node) {
  uint32_t text, i, taken = TLX_NO_ID32;
  TlxListReference outgoing;
  void** paths;
  TlxObject* next = NULL;
  Get(node, "Text", &text, sizeof text);
  Get(node, "Connections", &outgoing, sizeof outgoing);
  printf("%s\n", TextOf(text));
  paths = q.TlxResolveConnectionsWithIndirections(&outgoing);
  for (i = 0; i < q.TlxGetResolvedConnectionCount(paths); ++i) {
    const TlxReferenceList* parts = q.TlxGetPathParts(paths[i]);
    const TlxObject* part = q.TlxResolveObjectRef(&parts->entries[parts->count - 1]);
    const int open = q.TlxResolveConnectionConditions(paths[i]);
    uint32_t label;
    Get(part, "Label", &label, sizeof label);
    printf("  %u) %s%s\n", i + 1, TextOf(label), open ? "" : "  (closed)");
    if (open && taken == TLX_NO_ID32) taken = i;
  }
  if (taken != TLX_NO_ID32) {
    printf("  -> %u\n", taken + 1);
    q.TlxResolveConnectionOutcomes(paths[taken]);
    next = q.TlxResolveConnectionTarget(paths[taken]);
  }
  q.TlxFreeResolvedConnection(paths);
  return next;
}

static void ShowScriptError(const char* script) {
  char message[128] = "no answer";
  uint32_t position = 0, code;
  if (q.TlxSprigCheck(script, message, sizeof message, &position)) printf("check: %s is fine\n", script);
  else printf("check: %s: %s (at %u)\n", script, message, position);
  q.TlxSprigExecute(script);
  code = q.TlxSprigGetLastError(message, sizeof message, &position);
  printf("run: %s: error %u at %u: %s\n", script, code, position, code != 0 ? message : "none");
}

int main(int argc, char** argv) {
  const char* path = LIBRARY_NAME;
  uint64_t limit = TLX_NO_MEMORY_LIMIT;
  uint8_t flags = 0;
  const uint32_t toll[2] = {201, 202}, none[1] = {0};
  TlxObject* node;
  TlxSprigValue coins;
  void* library;
  int i, steps = 0;
  for (i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--limit") == 0 && i + 1 < argc) {
      limit = strtoull(argv[++i], NULL, 10);
      flags = TLX_START_CONTAIN_OUT_OF_MEMORY;
    } else {
      path = argv[i];
    }
  }
  if ((library = OpenLibrary(path)) == NULL || !LoadExports(library)) {
    fprintf(stderr, "cannot load %s\n", path);
    return 1;
  }
  printf("%s\n", q.TlxGetVersionString());
  if (!q.TlxInitializeDetailed(QUORIN_CAPI_VERSION, flags, NULL, NULL, NULL, limit)) {
    fprintf(stderr, "start-up failed (version or byte limit)\n");
    CloseLibrary(library);
    return 2;
  }
  q.TlxRegisterDefaultClasses();
  q.TlxSprigBind(TollPrice, "Toll.Price");
  q.TlxSprigExecute("purse:coins = 7");
  Line(1, "Guard: The bridge costs a toll.", toll, 2);
  Line(2, "Guard: Welcome across.", none, 0);
  Line(3, "You walk home.", none, 0);
  Choice(1, "Pay the toll", "purse:coins >= {Toll.Price}", "purse:coins -= {Toll.Price}", 2);
  Choice(2, "Turn back", NULL, NULL, 3);
  for (node = q.TlxGetPrototype(1); node != NULL && steps < 10; ++steps) node = Step(node);
  if (steps == 0) printf("(the story is absent: out of memory?)\n");
  coins = q.TlxSprigExecute("purse:coins");
  if (coins.kind == TLX_SPRIG_INTEGER) printf("coins left: %d\n", (int)(int32_t)(uint32_t)coins.payload);
  else printf("coins: no value (error %u)\n", q.TlxSprigGetLastError(NULL, 0, NULL));
  ShowScriptError("purse:coins >= {Toll.Prise}");
  ShowScriptError("purse:coins +");
  q.TlxShutdown();
  CloseLibrary(library);
  return 0;
}
