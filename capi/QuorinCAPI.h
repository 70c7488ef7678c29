/* QuorinCAPI: the C boundary of the Quorin story-data library.
 *
 * Every function has C linkage and an undecorated name. Text arguments are zero-terminated
 * UTF-8 unless a function takes an encoding. Only out of memory may leave a function as an
 * exception (std::bad_alloc, "bad allocation"); every other failure gives the function's
 * absent result (null, 0, false, 0xFFFFFFFF).
 */
#ifndef QUORIN_CAPI_H
#define QUORIN_CAPI_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#  if defined(QUORIN_BUILDING_LIBRARY)
#    define QUORIN_API __declspec(dllexport)
#  else
#    define QUORIN_API __declspec(dllimport)
#  endif
#else
#  define QUORIN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Memory --------------------------------------------------------------------------
 * Pool selectors: 1 to 4 serve blocks of up to 1024 bytes from size classes (2, 3, 4 align
 * to 4, 8, 16 bytes); 0 and any other value go to the host's allocation functions directly.
 * Before the library has been started these return null and ignore frees; after shutdown
 * they keep serving. */

/* A new block of size bytes from the given pool; null for size 0, at the byte limit, or
 * when memory cannot be obtained. Free it with BrvFree. */
QUORIN_API void* BrvMalloc(uint64_t size, uint32_t pool);

/* Resizes a block in the pool it came from (pool is used only when block is null); the
 * block may move and keeps its first min(old, new) bytes. Size 0 frees the block and gives
 * null; a block this library did not hand out gives null and is left alone. */
QUORIN_API void* BrvRealloc(void* block, uint64_t size, uint32_t pool);

/* Frees a block from BrvMalloc/BrvRealloc; null and unknown blocks are ignored. */
QUORIN_API void BrvFree(void* block);

#ifdef __cplusplus
}
#endif

#endif /* QUORIN_CAPI_H */
