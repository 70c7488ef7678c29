// Export and import of the whole Repository as an interchange file, behind the exports: the
// default configurations, the runs with their progress and done flags, and the kept outcome of
// the last run of each direction.
#pragma once

#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "repository/Repository.h"

namespace Quorin {

enum class EInterchangeDirection : uint32_t { kExport = 0, kImport = 1 };

// Outcome codes of TlxInterchangeResult. ORDER INTERCHANGE_CODE
enum class EInterchangeCode : uint32_t {
  kSucceeded = 0,
  kRunning = 1,
  kOpenFailed = 2,
  kFileFailed = 3,
  kMalformed = 4,
  kOutOfMemory = 5,
  kRefused = 6,
  kInvalidArguments = 7,
};

constexpr uint32_t kTextForm = 0;
constexpr uint32_t kBinaryForm = 1;
constexpr uint32_t kBackgroundImport = 1u << 0;
constexpr uint32_t kDefaultReadBufferSize = 8192;

TlxExportConfig DefaultExportConfig(uint32_t format);
TlxImportConfig DefaultImportConfig(uint32_t format);

// Write or read the file in the configured form, on the caller's thread or on the direction's
// background thread. A run is refused (and its outcome kept) while another export or import
// runs, and for a null path or configuration or an unknown form. Every failure is kept for
// GetInterchangeResult; out of memory on the caller's thread is kept and then raised.
void RunExport(Repository& repository, const char* path, const TlxExportConfig* config);
void RunImport(Repository& repository, const char* path, const TlxImportConfig* config);

// 1.0 unless a run of that direction is under way.
float GetInterchangeProgress(EInterchangeDirection direction);
// True unless a run of that direction is under way; a finished background thread is joined.
bool IsInterchangeDone(EInterchangeDirection direction);
// The outcome of the last run of the direction (0 export, 1 import) and its message (UTF-8, cut
// to messageSize with its terminator; not written when null or 0). False, with nothing written,
// when there was none since start-up or result is null.
bool GetInterchangeResult(uint32_t direction, TlxInterchangeResult* result, char* message, uint32_t messageSize);

// Waits for background runs of both directions to end (shutdown and clearing call it first).
void WaitForInterchange();

}  // namespace Quorin
