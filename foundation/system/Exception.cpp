#include "foundation/system/Exception.h"

#include "foundation/system/Platform.h"

namespace Bravik {

CException::CException(const char* message) : m_message(message, kUtf8) {}

CException::CException(const IString& message) : m_message(message) {}

void ThrowFileError(uint32_t code) {
  if (code == 0) return;
  constexpr size_t kMessageCapacity = 2048;
  char text[kMessageCapacity];
  System::SystemErrorText(code, text, sizeof text);
  throw CFileException(text, System::FileErrorKind(code));
}

}  // namespace Bravik
