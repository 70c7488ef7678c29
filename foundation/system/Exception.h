// The library's exception family. Out of memory is std::bad_alloc ("bad allocation") instead.
#pragma once

#include <cstdint>

#include "foundation/string/String.h"

namespace Bravik {

class CException {
 public:
  CException() = default;
  // Copies UTF-8 text into the message.
  explicit CException(const char* message);
  explicit CException(const IString& message);
  CException(const CException& other) = default;
  CException& operator=(const CException& other) = default;
  virtual ~CException() = default;

  const CMutableString& GetMessage() const { return m_message; }

 private:
  CMutableString m_message;
};

// Kinds of file errors, mapped from the platform's error codes.
constexpr uint32_t kFileErrorOther = 0;
constexpr uint32_t kFileErrorNotFound = 1;
constexpr uint32_t kFileErrorCorrupt = 2;
constexpr uint32_t kFileErrorUnsupported = 3;  // name, size or type the platform cannot take
constexpr uint32_t kFileErrorDenied = 4;       // denied, or something in the way

class CFileException : public CException {
 public:
  CFileException(const char* message, uint32_t kind) : CException(message), m_kind(kind) {}
  uint32_t GetKind() const { return m_kind; }

 private:
  uint32_t m_kind;
};

// Raises CFileException for a platform error code with the system's text and the mapped kind;
// code 0 is success and returns.
void ThrowFileError(uint32_t code);

}  // namespace Bravik
