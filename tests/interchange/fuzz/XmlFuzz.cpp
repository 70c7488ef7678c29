// Fuzz target for the XML reader: the events of the input read whole must be those of the
// literal pattern matcher, and reading it in small chunks (size and markup observation picked by
// the first byte) must give the same events, terminate every token and leave unconsumed bytes as
// they were. Crashes and sanitizer reports are failures too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/interchange/XmlEventLog.h"
#include "tests/interchange/fuzz/XmlReferenceMatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string doc(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> reference = QuorinTest::ReferenceEvents(doc);
  const QuorinTest::SChunkedRead whole = QuorinTest::ReadChunked(doc, doc.size() + 1);
  if (whole.events != reference || !whole.unconsumedKept || !whole.terminated) __builtin_trap();
  const uint8_t choice = size != 0 ? data[0] : 0;
  const bool observe = (choice & 0x80) == 0;
  const QuorinTest::SChunkedRead chunked = QuorinTest::ReadChunked(doc, 1 + (choice & 0x3F), 0, observe);
  std::vector<std::string> expected = reference;
  if (!observe) {
    std::erase_if(expected, [](const std::string& e) { return e[0] == '!' || e[0] == '?' || e[0] == '#'; });
  }
  if (chunked.events != expected || !chunked.unconsumedKept || !chunked.terminated) __builtin_trap();
  return 0;
}
