/* The public header from C: it must compile as strict C11, twice in one unit, with full
 * prototypes, and its functions must link and behave before the library is started. */
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

/* The prototypes hosts are promised, assigned without casts: a mismatch is a diagnostic. */
static void* (*const g_malloc)(uint64_t, uint32_t) = BrvMalloc;
static void* (*const g_realloc)(void*, uint64_t, uint32_t) = BrvRealloc;
static void (*const g_free)(void*) = BrvFree;

_Static_assert(sizeof(bool) == 1, "bool crosses the boundary as one byte");

int main(void) {
  uint32_t pool;
  size_t i;
  unsigned char* foreign;

  /* The allocator is created by the library's start-up; before it, nothing is served. */
  for (pool = 0; pool <= 5; ++pool) {
    CHECK(g_malloc(32, pool) == NULL);
    CHECK(g_realloc(NULL, 32, pool) == NULL);
  }
  g_free(NULL);

  /* A block of the host's own stays the host's: freed below with free(), which would be a
   * double free under the sanitizers had the library taken it. */
  foreign = (unsigned char*)malloc(40);
  CHECK(foreign != NULL);
  if (foreign != NULL) {
    memset(foreign, 0xA5, 40);
    g_free(foreign);
    CHECK(g_realloc(foreign, 80, 1) == NULL);
    for (i = 0; i < 40; ++i) CHECK(foreign[i] == 0xA5);
    free(foreign);
  }

  if (g_failures != 0) return 1;
  puts("QuorinCAPI.h from C11: compiled twice, linked, memory exports inert before start-up");
  return 0;
}
