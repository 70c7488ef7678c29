#include "tools/quorin/Library.h"

#include <cstdio>

#include "examples/HostLibrary.h"

namespace QuorinTool {

CExports g_lib;

namespace {

CHostLibrary g_library;  // stays loaded until the process ends

template <typename TFunction>
bool Find(TFunction& function, const char* name, bool required) {
  function = reinterpret_cast<TFunction>(g_library.Find(name));
  if (function == nullptr && required) std::fprintf(stderr, "quorin: the library lacks the export %s\n", name);
  return function != nullptr || !required;
}

}  // namespace

bool LoadLibraryExports() {
  if (!g_library.Open()) {
    std::fprintf(stderr, "quorin: could not load %s: %s\n", g_library.Path().c_str(), g_library.Error().c_str());
    return false;
  }
  bool ok = true;
#define QUORIN_TOOL_FIND(name) ok = Find(g_lib.name, #name, true) && ok;
  QUORIN_TOOL_EXPORTS(QUORIN_TOOL_FIND)
#undef QUORIN_TOOL_FIND
#define QUORIN_TOOL_OPTIONAL(name) Find(g_lib.name, #name, false);
  QUORIN_TOOL_OPTIONAL(TlxExport) QUORIN_TOOL_OPTIONAL(TlxImport) QUORIN_TOOL_OPTIONAL(TlxGetDefaultExportConfig)
  QUORIN_TOOL_OPTIONAL(TlxGetDefaultImportConfig) QUORIN_TOOL_OPTIONAL(TlxGetExportProgress)
  QUORIN_TOOL_OPTIONAL(TlxGetImportProgress) QUORIN_TOOL_OPTIONAL(TlxGetExportDone)
  QUORIN_TOOL_OPTIONAL(TlxGetImportDone) QUORIN_TOOL_OPTIONAL(TlxGetInterchangeResult)
  QUORIN_TOOL_OPTIONAL(TlxSprigCheck) QUORIN_TOOL_OPTIONAL(TlxSprigGetLastError)
  QUORIN_TOOL_OPTIONAL(TlxGetPathParts) QUORIN_TOOL_OPTIONAL(TlxGetVersionString)
#undef QUORIN_TOOL_OPTIONAL
  return ok;
}

}  // namespace QuorinTool
