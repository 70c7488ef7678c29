/* Included ahead of WalkStory.c when QuorinCAPI.h does not declare TlxGetPathParts yet: the
 * same handle, read where the boundary lays it out (one pointer width into the path object). */
#include <QuorinCAPI.h>

static inline TlxReferenceList* TlxGetPathParts(void* path) {
  return path != NULL ? (TlxReferenceList*)((char*)path + sizeof(void*)) : NULL;
}
