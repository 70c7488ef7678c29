// Values that own nothing and need no resolving (Boolean, Integer, Float, Invalid), packed into
// one word so that pure expressions over them evaluate in registers: the kind in bits 32-39, the
// low 32 payload bits below (every rule of these kinds reads no more). The rules here give
// exactly what the operations of Value.h give for the same operands.
#pragma once

#include <cstdint>
#include <cstring>

#include "sprig/Value.h"

namespace Quorin::Sprig {

using Scalar = uint64_t;
// A subtree that needs the general evaluation: a text, a side effect, a member read, an error.
constexpr Scalar kNoScalar = ~0ull;

constexpr Scalar MakeScalar(uint8_t kind, uint32_t bits) { return (static_cast<uint64_t>(kind) << 32) | bits; }
constexpr uint8_t ScalarKind(Scalar value) { return static_cast<uint8_t>(value >> 32); }
constexpr uint32_t ScalarBits(Scalar value) { return static_cast<uint32_t>(value); }

// The scalar of a resolved value; kNoScalar for a String.
inline Scalar ToScalar(const TlxSprigValue& resolved) {
  if (resolved.kind == kSprigString || resolved.kind == kSprigReference) return kNoScalar;
  return MakeScalar(resolved.kind, static_cast<uint32_t>(resolved.payload));
}

inline SValueWords ScalarWords(Scalar value) { return {ScalarBits(value), ScalarKind(value)}; }
inline TlxSprigValue FromScalar(Scalar value) { return FromWords(ScalarWords(value)); }

inline Scalar ScalarBoolean(bool flag) { return MakeScalar(kSprigBoolean, flag ? 1 : 0); }

inline float ScalarFloatOf(Scalar value) {
  const uint32_t bits = ScalarBits(value);
  float number;
  std::memcpy(&number, &bits, sizeof(number));
  return number;
}

inline bool ScalarAsBoolean(Scalar value) {
  switch (ScalarKind(value)) {
    case kSprigBoolean: return (ScalarBits(value) & 0xFF) != 0;
    case kSprigInteger: return ScalarBits(value) != 0;
    case kSprigFloat: {
      const float number = ScalarFloatOf(value);
      return number < 0.0f || number > 0.0f;
    }
    default: return false;
  }
}

inline int32_t ScalarAsInteger(Scalar value) {
  switch (ScalarKind(value)) {
    case kSprigBoolean: return (ScalarBits(value) & 0xFF) != 0 ? 1 : 0;
    case kSprigInteger: return static_cast<int32_t>(ScalarBits(value));
    case kSprigFloat: return FloatToInteger(ScalarFloatOf(value));
    default: return 0;
  }
}

inline float ScalarAsFloat(Scalar value) {
  switch (ScalarKind(value)) {
    case kSprigBoolean: return (ScalarBits(value) & 0xFF) != 0 ? 1.0f : 0.0f;
    case kSprigInteger: return static_cast<float>(static_cast<int32_t>(ScalarBits(value)));
    case kSprigFloat: return ScalarFloatOf(value);
    default: return 0.0f;
  }
}

inline bool EitherFloat(Scalar a, Scalar b) {
  return ScalarKind(a) == kSprigFloat || ScalarKind(b) == kSprigFloat;
}

// The comparison operators; a NaN is below everything, as for Less and LessEqual of values.
template <typename Order>
Scalar ScalarCompare(Scalar a, Scalar b, Order order) {
  if (EitherFloat(a, b)) return ScalarBoolean(order(ScalarAsFloat(a), ScalarAsFloat(b)));
  return ScalarBoolean(order(ScalarAsInteger(a), ScalarAsInteger(b)));
}

inline bool ScalarEquals(Scalar a, Scalar b) {
  if (EitherFloat(a, b)) {
    const float difference = ScalarAsFloat(a) - ScalarAsFloat(b);
    return difference > -kFloatTolerance && difference < kFloatTolerance;
  }
  if (ScalarKind(a) == kSprigInteger || ScalarKind(b) == kSprigInteger) {
    return ScalarAsInteger(a) == ScalarAsInteger(b);
  }
  return ScalarAsBoolean(a) == ScalarAsBoolean(b);
}

inline Scalar ScalarLogicalNot(Scalar value) {
  switch (ScalarKind(value)) {
    case kSprigBoolean: return ScalarBoolean((ScalarBits(value) & 0xFF) == 0);
    case kSprigInteger: return ScalarBoolean(ScalarBits(value) == 0);
    case kSprigFloat: {
      const float number = ScalarFloatOf(value);
      return ScalarBoolean(number > -kFloatTolerance && number < kFloatTolerance);
    }
    default: return ScalarBoolean(true);
  }
}

// The result of an operation of Value.h as a scalar; kNoScalar (and nothing kept) for a text.
inline Scalar TakeScalar(TlxSprigValue& result) {
  const Scalar scalar = ToScalar(result);
  if (scalar == kNoScalar) Release(result);
  return scalar;
}

inline Scalar ApplyScalar(BinaryOperation operation, Scalar a, Scalar b) {
  TlxSprigValue result = MakeInvalidValue();
  const TlxSprigValue left = FromScalar(a);
  const TlxSprigValue right = FromScalar(b);
  operation(result, left, right);
  return TakeScalar(result);
}

inline Scalar ApplyScalar(void (*operation)(TlxSprigValue&, const TlxSprigValue&), Scalar a) {
  TlxSprigValue result = MakeInvalidValue();
  const TlxSprigValue operand = FromScalar(a);
  operation(result, operand);
  return TakeScalar(result);
}

}  // namespace Quorin::Sprig
