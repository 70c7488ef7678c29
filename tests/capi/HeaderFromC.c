/* The public header from C: it must compile as strict C89, C99 and C11, twice in one unit, with
 * full prototypes; its export list must agree with its declarations; its functions must link and
 * behave before the library is started. */
#include "capi/QuorinCAPI.h"
#include "capi/QuorinCAPI.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_failures = 0;

#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++g_failures;                                                             \
    }                                                                           \
  } while (0)


/* Every listed export assigned to a pointer of its listed type without a cast: a list entry
 * that differs from the declaration is a diagnostic. */
typedef void (*AnyFunction)(void);
#define LISTED_POINTER(type, name, parameters) static type (*const g_##name) parameters = name;
QUORIN_CAPI_EXPORTS(LISTED_POINTER)
#define LISTED_ENTRY(type, name, parameters) {#name, (AnyFunction)g_##name},
static const struct {
  const char* name;
  AnyFunction address;
} g_exports[] = {QUORIN_CAPI_EXPORTS(LISTED_ENTRY)};

typedef char BoolIsOneByte[sizeof(bool) == 1 ? 1 : -1];

int main(void) {
  uint32_t pool;
  size_t i, j;
  unsigned char* foreign;
  const char* version;

  /* Each export is listed once, and the version works before start-up. */
  for (i = 0; i < sizeof g_exports / sizeof g_exports[0]; ++i) {
    CHECK(g_exports[i].address != NULL);
    for (j = 0; j < i; ++j) CHECK(strcmp(g_exports[i].name, g_exports[j].name) != 0);
  }
  version = g_TlxGetVersionString();
  CHECK(version != NULL && strncmp(version, "Quorin ", 7) == 0);
  CHECK(g_TlxSprigGetLastError(NULL, 0, NULL) == TLX_SPRIG_ERROR_NONE);

  /* The allocator is created by the library's start-up; before it, nothing is served. */
  for (pool = 0; pool <= 5; ++pool) {
    CHECK(g_BrvMalloc(32, pool) == NULL);
    CHECK(g_BrvRealloc(NULL, 32, pool) == NULL);
  }
  g_BrvFree(NULL);

  /* A block of the host's own stays the host's: freed below with free(), which would be a
   * double free under the sanitizers had the library taken it. */
  foreign = (unsigned char*)malloc(40);
  CHECK(foreign != NULL);
  if (foreign != NULL) {
    memset(foreign, 0xA5, 40);
    g_BrvFree(foreign);
    CHECK(g_BrvRealloc(foreign, 80, 1) == NULL);
    for (i = 0; i < 40; ++i) CHECK(foreign[i] == 0xA5);
    free(foreign);
  }

  if (g_failures != 0) return 1;
  printf("QuorinCAPI.h from C: compiled twice, %u listed exports linked, memory exports inert "
         "before start-up\n", (unsigned)(sizeof g_exports / sizeof g_exports[0]));
  return 0;
}
