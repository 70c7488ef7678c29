// Platform services the foundation needs, one implementation per platform
// (PlatformPosix.cpp, PlatformWin32.cpp). Nothing else in the tree tests for the platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Bravik::System {

using AllocateFunction = void* (*)(size_t size);
using ReallocateFunction = void* (*)(void* block, size_t size);
using FreeFunction = void (*)(void* block);

// The language runtime's malloc/realloc/free: the memory manager's default callbacks.
AllocateFunction DefaultAllocate();
ReallocateFunction DefaultReallocate();
FreeFunction DefaultFree();

// A small id of the calling thread, never 0xFFFFFFFF (the free-lock owner value).
uint32_t CurrentThreadId();

// Tells the processor we are busy-waiting on a lock word.
void SpinPause();

// The processor's first-level data cache size in bytes, read through CPUID on
// "GenuineIntel" and "AuthenticAMD" processors; 0 elsewhere.
uint32_t QueryL1DataCacheSize();

// Whether the processor multiplies without carries (PCLMULQDQ) and has SSE4.1: the fast hash
// path needs both. Read once.
bool HasCarrylessMultiply();

// The same decoding over any source of CPUID answers (tests feed recorded ones).
struct CpuidRegisters {
  uint32_t eax, ebx, ecx, edx;
};
using CpuidFunction = bool (*)(uint32_t leaf, uint32_t subleaf, CpuidRegisters& out);
uint32_t L1DataCacheSizeFrom(CpuidFunction cpuid);

// Writes the platform's text for a system error code (errno on POSIX, GetLastError codes on
// Windows) into buffer as zero-terminated ASCII/UTF-8, at most capacity bytes; returns the length.
size_t SystemErrorText(uint32_t code, char* buffer, size_t capacity);

// Maps a system error code to a file error kind: 0 other, 1 not found, 2 corrupt,
// 3 unsupported name/size/type, 4 denied or in the way.
uint32_t FileErrorKind(uint32_t code);

}  // namespace Bravik::System
