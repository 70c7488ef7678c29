// Per-thread variables on the allocator's hot path. On ELF targets the initial-exec model
// turns each access into one segment-relative load instead of a call into the loader.
#pragma once

#if defined(_WIN32)
#define BRAVIK_FAST_THREAD_LOCAL thread_local
#else
#define BRAVIK_FAST_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))
#endif
