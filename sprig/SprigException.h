// Script errors: a message, a code saying what went wrong and the character index of the token
// concerned (0 when none is).
#pragma once

#include <cstdint>

#include "foundation/system/Exception.h"

namespace Quorin {

// ORDER SPRIG_ERROR. Code 0 is kept for "no error", so that a host reading the last error of a
// call can tell a failed assignment from a call that raised nothing.
constexpr uint32_t kSprigErrorAssignToConst = 1;
constexpr uint32_t kSprigErrorMissingLeft = 2;
constexpr uint32_t kSprigErrorUnmatchedClose = 4;
constexpr uint32_t kSprigErrorFunctionBlock = 5;
constexpr uint32_t kSprigErrorNothing = 6;  // nothing to push, empty expression, nested too deeply
constexpr uint32_t kSprigErrorNotFound = 7;
constexpr uint32_t kSprigErrorMissingRight = 8;
constexpr uint32_t kSprigErrorUnaryOnly = 9;
constexpr uint32_t kSprigErrorNoNamespace = 10;
constexpr uint32_t kSprigErrorUnknownOperator = 11;
constexpr uint32_t kSprigErrorMemberType = 12;
constexpr uint32_t kSprigErrorArgumentCount = 13;
constexpr uint32_t kSprigErrorArgumentKind = 14;

class CSprigException : public Bravik::CException {
 public:
  CSprigException(const char* message, uint32_t code, uint32_t position = 0)
      : CException(message), m_code(code), m_position(position) {}
  CSprigException(const Bravik::IString& message, uint32_t code, uint32_t position = 0)
      : CException(message), m_code(code), m_position(position) {}

  uint32_t GetCode() const { return m_code; }
  uint32_t GetPosition() const { return m_position; }
  // A copy raised again from an outer node carries that node's position.
  CSprigException WithPosition(uint32_t position) const {
    CSprigException copy(*this);
    copy.m_position = position;
    return copy;
  }

 private:
  uint32_t m_code;
  uint32_t m_position;
};

}  // namespace Quorin
