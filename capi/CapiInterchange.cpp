// Exports: interchange files (export, import, configurations, progress, outcomes).
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "interchange/Interchange.h"

using Quorin::Guard;
using Quorin::Repository;

static_assert(sizeof(TlxInterchangeResult) == 32 && offsetof(TlxInterchangeResult, line) == 24);
static_assert(sizeof(TlxImportConfig) == 12);

extern "C" {

QUORIN_API void TlxExport(const char* path, const TlxExportConfig* config) {
  Guard([=](Repository& r) { Quorin::RunExport(r, path, config); });
}

QUORIN_API void TlxImport(const char* path, const TlxImportConfig* config) {
  Guard([=](Repository& r) { Quorin::RunImport(r, path, config); });
}

QUORIN_API TlxExportConfig TlxGetDefaultExportConfig(uint32_t format) { return Quorin::DefaultExportConfig(format); }

QUORIN_API TlxImportConfig TlxGetDefaultImportConfig(uint32_t format) { return Quorin::DefaultImportConfig(format); }

QUORIN_API float TlxGetExportProgress(void) {
  return Guard(1.0f, [](Repository&) { return Quorin::GetInterchangeProgress(Quorin::EInterchangeDirection::kExport); });
}

QUORIN_API float TlxGetImportProgress(void) {
  return Guard(1.0f, [](Repository&) { return Quorin::GetInterchangeProgress(Quorin::EInterchangeDirection::kImport); });
}

QUORIN_API bool TlxGetExportDone(void) {
  return Guard(true, [](Repository&) { return Quorin::IsInterchangeDone(Quorin::EInterchangeDirection::kExport); });
}

QUORIN_API bool TlxGetImportDone(void) {
  return Guard(true, [](Repository&) { return Quorin::IsInterchangeDone(Quorin::EInterchangeDirection::kImport); });
}

QUORIN_API bool TlxGetInterchangeResult(uint32_t direction, TlxInterchangeResult* result, char* message,
                                        uint32_t messageSize) {
  return Guard(false, [=](Repository&) { return Quorin::GetInterchangeResult(direction, result, message, messageSize); });
}

}  // extern "C"
