// Fuzz target for the binary reader: any input imports what its whole blocks hold and ends with a
// clear result, without crash, sanitizer report or leak; the Repository is emptied between inputs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "capi/QuorinCAPI.h"
#include "tests/interchange/BinaryTestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = TlxInitialize(17, 0);
  if (!started) __builtin_trap();
  QuorinTest::CMemorySource source(std::string(reinterpret_cast<const char*>(data), size));
  const Quorin::SBinaryReadResult result = Quorin::ReadBinaryInterchange(*Quorin::Repository::Get(), source);
  if ((result.code != 0 && result.code != 4) || result.bytes > size) __builtin_trap();
  TlxClearRepository();
  return 0;
}
