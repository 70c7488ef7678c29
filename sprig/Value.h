// Script values: construction, copying, references, conversions and the operations that the
// operator nodes and standard functions apply. Every read follows a chain of References to the
// final value first; a chain longer than kMaxReferenceHops (or a loop) reads as Invalid.
#pragma once

#include <bit>
#include <cstdint>

#include "foundation/string/String.h"
#include "sprig/ValueStores.h"

namespace Quorin::Sprig {

constexpr uint32_t kMaxReferenceHops = 16;
// Single-precision constant nearest 1e-6: floats closer than this compare equal.
constexpr float kFloatTolerance = 0.000001f;
constexpr uint32_t kSprigKindCount = 6;

// Kind names as the interchange file writes them. ORDER SPRIG_KIND
constexpr const char* kSprigKindNames[] = {"Reference", "Boolean", "Integer",
                                           "Float",     "String",  "Invalid"};
static_assert(sizeof(kSprigKindNames) / sizeof(kSprigKindNames[0]) == kSprigKindCount);

// A value as two whole words, the form in which results travel on to the exports: GCC assembles
// a TlxSprigValue merged from several paths field by field and then copies it whole, and that
// copy waits for the byte store on every call.
struct SValueWords {
  uint64_t payload;
  uint64_t kindAndFlags;
};
inline SValueWords ToWords(const TlxSprigValue& value) { return std::bit_cast<SValueWords>(value); }
inline SValueWords ToWords(SValueWords words) { return words; }
inline TlxSprigValue FromWords(SValueWords words) { return std::bit_cast<TlxSprigValue>(words); }

inline TlxSprigValue MakeInvalidValue() {
  TlxSprigValue value{};
  value.kind = kSprigInvalid;
  return value;
}

// Float to Integer: truncation toward zero; NaN and out of range give -2147483648.
inline int32_t FloatToInteger(float number) {
  if (!(number >= -2147483648.0f && number < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(number);
}

// The final non-Reference value (a shared Invalid value for a broken chain).
const TlxSprigValue& Resolve(const TlxSprigValue& value);
// The final non-Reference value to write into; null for a broken chain (writes are dropped).
TlxSprigValue* ResolveForWrite(TlxSprigValue& value);

// Setters write into the resolved destination and free a text block it held.
void SetInvalid(TlxSprigValue& value);
void SetBoolean(TlxSprigValue& value, bool flag);
void SetInteger(TlxSprigValue& value, int32_t number);
void SetFloat(TlxSprigValue& value, float number);
// Copies the text as UTF-8 into a block of exactly its size; null is the empty text.
void SetString(TlxSprigValue& value, const Bravik::IString& text);
void SetString(TlxSprigValue& value, const char* utf8);
// Takes ownership of a library-allocator block holding zero-terminated UTF-8.
void AdoptString(TlxSprigValue& value, char* block);

bool IsInteger(const TlxSprigValue& value);
bool IsFloat(const TlxSprigValue& value);
bool IsString(const TlxSprigValue& value);
uint8_t KindOf(const TlxSprigValue& value);  // kind of the resolved value

// Raw payload readers of an already resolved value of the matching kind.
int32_t IntegerOf(const TlxSprigValue& value);
float FloatOf(const TlxSprigValue& value);
const char* TextOf(const TlxSprigValue& value);  // never null for a String

// Resolves both and copies kind and payload; a String source is copied into a new block before
// the destination's old block is freed, so assigning a value to itself keeps it.
void Assign(TlxSprigValue& destination, const TlxSprigValue& source);
// The resolved destination becomes a Reference to the resolved target; a null or broken target
// makes it Invalid. A value never becomes a Reference to itself.
void MakeReference(TlxSprigValue& destination, const TlxSprigValue* target);
// Frees the text block of a String (References are not followed); the value becomes Invalid.
void Release(TlxSprigValue& value);

bool AsBoolean(const TlxSprigValue& value);
// Float truncates toward zero; NaN and out of range give -2147483648.
int32_t AsInteger(const TlxSprigValue& value);
float AsFloat(const TlxSprigValue& value);
// UTF-8 text of the value; the empty text for Invalid.
void AsString(const TlxSprigValue& value, Bravik::CMutableString& text);

// Binary operations: `out` receives a new value; the operands are not changed and may alias out.
using BinaryOperation = void (*)(TlxSprigValue& out, const TlxSprigValue& a,
                                 const TlxSprigValue& b);
void Add(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Subtract(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Multiply(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Divide(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Modulo(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void BitAnd(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void BitOr(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void BitXor(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void ShiftLeft(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void ShiftRight(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void LogicalAnd(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void LogicalOr(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Equal(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void NotEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Less(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void LessEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void Greater(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);
void GreaterEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b);

// Unary operations into `out`.
void Negate(TlxSprigValue& out, const TlxSprigValue& a);
void LogicalNot(TlxSprigValue& out, const TlxSprigValue& a);
void BitNot(TlxSprigValue& out, const TlxSprigValue& a);
// In place on the resolved value (a variable when `value` refers to one).
void Increment(TlxSprigValue& value);
void Decrement(TlxSprigValue& value);

// A temporary that frees its text when it goes out of scope, also during unwinding.
class CTempValue {
 public:
  CTempValue() : m_value(MakeInvalidValue()) {}
  // Only a String owns anything: the common kinds cost no call.
  ~CTempValue() {
    if (m_value.kind == kSprigString) Release(m_value);
  }
  CTempValue(const CTempValue&) = delete;
  CTempValue& operator=(const CTempValue&) = delete;

  TlxSprigValue& Get() { return m_value; }
  const TlxSprigValue& Get() const { return m_value; }
  // Hands the value over; the temporary becomes Invalid.
  TlxSprigValue Take() {
    TlxSprigValue value = m_value;
    m_value = MakeInvalidValue();
    return value;
  }

 private:
  TlxSprigValue m_value;
};

}  // namespace Quorin::Sprig
