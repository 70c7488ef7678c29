// The exports the quorin tool uses, looked up by name in QuorinCAPI loaded at run time, as a
// game loads it. Exports that older builds of the library lack are optional: the commands that
// need them say so instead of failing to start.
#pragma once

#include <cstdint>
#include <string>

#include "capi/QuorinCAPI.h"

namespace QuorinTool {

// The outcome record of the last export (direction 0) or import (direction 1).
struct SInterchangeResult {
  uint32_t code;     // 0 ok, 1 running, 2 open failed, 3 read/write failed, 4 malformed, 5 out of memory,
                     // 6 refused, 7 invalid arguments
  uint32_t skipped;  // import: elements or records skipped
  uint64_t offset;   // malformed: byte offset of the fault
  uint64_t bytes;    // bytes read or written
  uint32_t line;     // malformed XML: 1-based line
  uint32_t reserved;
};
static_assert(sizeof(SInterchangeResult) == 32);

#define QUORIN_TOOL_EXPORTS(X)                                                                           \
  X(BrvFree) X(TlxGetObjectId) X(TlxInitialize) X(TlxShutdown) X(TlxRegisterDefaultClasses)             \
  X(TlxGetClassType) X(TlxGetTemplateType) X(TlxGetClassMemberByIndex) X(TlxGetTemplateMemberByIndex)    \
  X(TlxGetPrototype) X(TlxGetInstance) X(TlxGetCMemberByName) X(TlxGetText) X(TlxGetTextEncoding)         \
  X(TlxDebug_TryGetString) X(TlxResolveListRef) X(TlxResolveListRef2) X(TlxResolveObjectRef)              \
  X(TlxSprigExecute) X(TlxSprigTryParse) X(TlxSprigBind) X(TlxSprigBindStandardFunctions)                 \
  X(TlxResolveConnectionsWithIndirections) X(TlxGetResolvedConnectionCount)                               \
  X(TlxResolveConnectionConditions) X(TlxResolveConnectionOutcomes) X(TlxResolveConnectionTarget)         \
  X(TlxFreeResolvedConnection)

struct CExports {
#define QUORIN_TOOL_DECLARE(name) decltype(&::name) name = nullptr;
  QUORIN_TOOL_EXPORTS(QUORIN_TOOL_DECLARE)
#undef QUORIN_TOOL_DECLARE
  // Optional: interchange files, script checks and error reports.
  void (*TlxExport)(const char*, const TlxExportConfig*) = nullptr;
  void (*TlxImport)(const char*, const TlxImportConfig*) = nullptr;
  TlxExportConfig (*TlxGetDefaultExportConfig)(uint32_t) = nullptr;
  TlxImportConfig (*TlxGetDefaultImportConfig)(uint32_t) = nullptr;
  float (*TlxGetExportProgress)() = nullptr;
  float (*TlxGetImportProgress)() = nullptr;
  bool (*TlxGetExportDone)() = nullptr;
  bool (*TlxGetImportDone)() = nullptr;
  bool (*TlxGetInterchangeResult)(uint32_t, SInterchangeResult*, char*, uint32_t) = nullptr;
  bool (*TlxSprigCheck)(const char*, char*, uint32_t, uint32_t*) = nullptr;
  uint32_t (*TlxSprigGetLastError)(char*, uint32_t, uint32_t*) = nullptr;
  TlxReferenceList* (*TlxGetPathParts)(void*) = nullptr;
  const char* (*TlxGetVersionString)() = nullptr;
};

// The loaded library's exports; valid after LoadLibraryExports succeeded.
extern CExports g_lib;

// Loads QuorinCAPI and looks up its exports; false (with a message on standard error) when the
// library cannot be loaded or lacks a required export.
bool LoadLibraryExports();

}  // namespace QuorinTool
