#include "sprig/Value.h"

#include <cmath>
#include <cstring>

#include "foundation/memory/Memory.h"
#include "foundation/string/NumberText.h"

namespace Quorin::Sprig {

using Bravik::CString;
namespace Memory = Bravik::Memory;

namespace {


const TlxSprigValue kBrokenValue = MakeInvalidValue();

uint64_t PointerPayload(const void* pointer) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
}

char* TextPointer(const TlxSprigValue& value) {
  return reinterpret_cast<char*>(static_cast<uintptr_t>(value.payload));
}

void FreeText(TlxSprigValue& value) {
  if (value.kind == kSprigString) Memory::Free(TextPointer(value));
}

// A copy of a String payload: the whole block when the allocator knows it, else the measured
// text (a host block from elsewhere); always terminated.
char* CopyText(const char* text) {
  uint64_t size = Memory::GetBlockSize(text);
  if (size == 0) size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(Memory::Allocate(size, Memory::kObjectPool));
  std::memcpy(copy, text, size);
  copy[size - 1] = '\0';
  return copy;
}

bool BooleanOf(const TlxSprigValue& value) { return (value.payload & 0xFF) != 0; }

// The operand as the Boolean rule reads it: a String by its text, anything else by its low byte.
bool RuleBoolean(const TlxSprigValue& value) {
  return value.kind == kSprigString ? AsBoolean(value) : BooleanOf(value);
}

int32_t Wrap(uint32_t bits) { return static_cast<int32_t>(bits); }

enum class ERule { kFloat, kInteger, kOther };

ERule RuleOf(const TlxSprigValue& a, const TlxSprigValue& b) {
  if (a.kind == kSprigFloat || b.kind == kSprigFloat) return ERule::kFloat;
  if (a.kind == kSprigInteger || b.kind == kSprigInteger) return ERule::kInteger;
  return ERule::kOther;
}

bool BothStrings(const TlxSprigValue& a, const TlxSprigValue& b) {
  return a.kind == kSprigString && b.kind == kSprigString;
}

// Text of a resolved value without copying a String; numbers and booleans go to `buffer`.
const char* TextView(const TlxSprigValue& value, char (&buffer)[Bravik::kNumberAsciiCapacity]) {
  switch (value.kind) {
    case kSprigBoolean:
      return BooleanOf(value) ? "true" : "false";
    case kSprigInteger:
      Bravik::SignedToAscii(IntegerOf(value), buffer);
      return buffer;
    case kSprigFloat:
      Bravik::DoubleToAscii(static_cast<double>(FloatOf(value)), buffer);
      return buffer;
    case kSprigString:
      return TextOf(value);
    default:
      return "";
  }
}

void Concatenate(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  char bufferA[Bravik::kNumberAsciiCapacity];
  char bufferB[Bravik::kNumberAsciiCapacity];
  const char* textA = TextView(a, bufferA);
  const char* textB = TextView(b, bufferB);
  const size_t lengthA = std::strlen(textA);
  const size_t lengthB = std::strlen(textB);
  char* block = static_cast<char*>(Memory::Allocate(lengthA + lengthB + 1, Memory::kObjectPool));
  std::memcpy(block, textA, lengthA);
  std::memcpy(block + lengthA, textB, lengthB + 1);
  AdoptString(out, block);
}

void RemoveAll(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Bravik::CMutableString result =
      Bravik::Replace(CString(TextOf(a)), CString(TextOf(b)), CString(""));
  char* block = static_cast<char*>(result.Release());
  if (block == nullptr) {
    SetString(out, "");
  } else {
    AdoptString(out, block);
  }
}

enum class EOrder { kLess, kLessEqual, kGreater, kGreaterEqual };

template <typename T>
bool Ordered(T a, T b, EOrder order) {
  switch (order) {
    case EOrder::kLess: return a < b;
    case EOrder::kLessEqual: return a <= b;
    case EOrder::kGreater: return a > b;
    default: return a >= b;
  }
}

// Floats: Less is "not >=" and LessEqual "not >", so a NaN is below everything.
bool OrderedFloat(float a, float b, EOrder order) {
  switch (order) {
    case EOrder::kLess: return !(a >= b);
    case EOrder::kLessEqual: return !(a > b);
    case EOrder::kGreater: return a > b;
    default: return a >= b;
  }
}

void Compare(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b, EOrder order) {
  const TlxSprigValue& ra = Resolve(a);
  const TlxSprigValue& rb = Resolve(b);
  bool result;
  if (BothStrings(ra, rb)) {
    result = Ordered(CString(TextOf(ra)).GetLength(), CString(TextOf(rb)).GetLength(), order);
  } else if (RuleOf(ra, rb) == ERule::kFloat) {
    result = OrderedFloat(AsFloat(ra), AsFloat(rb), order);
  } else {
    result = Ordered(AsInteger(ra), AsInteger(rb), order);
  }
  SetBoolean(out, result);
}

bool Equals(const TlxSprigValue& ra, const TlxSprigValue& rb) {
  switch (RuleOf(ra, rb)) {
    case ERule::kFloat: {
      const float difference = AsFloat(ra) - AsFloat(rb);
      return difference > -kFloatTolerance && difference < kFloatTolerance;
    }
    case ERule::kInteger:
      return AsInteger(ra) == AsInteger(rb);
    default:
      if (BothStrings(ra, rb)) return Bravik::Equals(CString(TextOf(ra)), CString(TextOf(rb)));
      return AsBoolean(ra) == AsBoolean(rb);
  }
}

// The integer operations of the arithmetic family; false when the result is Invalid.
using IntegerRule = bool (*)(int32_t a, int32_t b, int32_t& result);
using FloatRule = float (*)(float a, float b);

// Float, then Integer, then the operation's String rule, then the Boolean rule.
void Arithmetic(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b,
                FloatRule floatRule, IntegerRule integerRule, bool (*booleanRule)(bool, bool)) {
  const TlxSprigValue& ra = Resolve(a);
  const TlxSprigValue& rb = Resolve(b);
  switch (RuleOf(ra, rb)) {
    case ERule::kFloat:
      SetFloat(out, floatRule(AsFloat(ra), AsFloat(rb)));
      return;
    case ERule::kInteger: {
      int32_t result = 0;
      if (integerRule(AsInteger(ra), AsInteger(rb), result)) {
        SetInteger(out, result);
      } else {
        SetInvalid(out);
      }
      return;
    }
    default:
      break;
  }
  if (BothStrings(ra, rb)) {
    // Multiply, Divide and Modulo have no meaning for two texts (Add and Subtract handle them
    // before coming here).
    SetInvalid(out);
    return;
  }
  SetBoolean(out, booleanRule(RuleBoolean(ra), RuleBoolean(rb)));
}

bool AndRule(bool a, bool b) { return a && b; }

}  // namespace

// ---- Resolution and setters ----

const TlxSprigValue& Resolve(const TlxSprigValue& value) {
  const TlxSprigValue* current = &value;
  for (uint32_t hop = 0; current->kind == kSprigReference; ++hop) {
    if (hop == kMaxReferenceHops) return kBrokenValue;
    current = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(current->payload));
    if (current == nullptr) return kBrokenValue;
  }
  return current->kind > kSprigInvalid ? kBrokenValue : *current;
}

TlxSprigValue* ResolveForWrite(TlxSprigValue& value) {
  TlxSprigValue* current = &value;
  for (uint32_t hop = 0; current->kind == kSprigReference; ++hop) {
    if (hop == kMaxReferenceHops) return nullptr;
    TlxSprigValue* next = reinterpret_cast<TlxSprigValue*>(static_cast<uintptr_t>(current->payload));
    if (next == nullptr) return nullptr;
    // A variable that refers to one that has left its store is Invalid: the write goes to it.
    if (IsLeftEntry(*next)) {
      if (current->entryFlag != 1) return nullptr;
      Release(*current);
      return current;
    }
    current = next;
  }
  return current;
}

void SetInvalid(TlxSprigValue& value) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  FreeText(*target);
  target->kind = kSprigInvalid;
  target->payload = 0;
}

void SetBoolean(TlxSprigValue& value, bool flag) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  FreeText(*target);
  target->kind = kSprigBoolean;
  target->payload = flag ? 1 : 0;
}

void SetInteger(TlxSprigValue& value, int32_t number) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  FreeText(*target);
  target->kind = kSprigInteger;
  target->payload = static_cast<uint32_t>(number);
}

void SetFloat(TlxSprigValue& value, float number) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  FreeText(*target);
  uint32_t bits;
  std::memcpy(&bits, &number, sizeof(bits));
  target->kind = kSprigFloat;
  target->payload = bits;
}

void SetString(TlxSprigValue& value, const Bravik::IString& text) {
  const uint64_t size = text.IsNull() ? 1 : text.GetSizeIn(Bravik::kUtf8);
  char* block = static_cast<char*>(Memory::Allocate(size, Memory::kObjectPool));
  block[0] = '\0';
  Bravik::Convert(text, Bravik::kUtf8, block);
  AdoptString(value, block);
}

void SetString(TlxSprigValue& value, const char* utf8) { SetString(value, CString(utf8)); }

void AdoptString(TlxSprigValue& value, char* block) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) {
    Memory::Free(block);
    return;
  }
  FreeText(*target);
  target->kind = kSprigString;
  target->payload = PointerPayload(block);
}

bool IsInteger(const TlxSprigValue& value) { return Resolve(value).kind == kSprigInteger; }
bool IsFloat(const TlxSprigValue& value) { return Resolve(value).kind == kSprigFloat; }
bool IsString(const TlxSprigValue& value) { return Resolve(value).kind == kSprigString; }
uint8_t KindOf(const TlxSprigValue& value) { return Resolve(value).kind; }

int32_t IntegerOf(const TlxSprigValue& value) {
  return Wrap(static_cast<uint32_t>(value.payload & 0xFFFFFFFFu));
}

float FloatOf(const TlxSprigValue& value) {
  const uint32_t bits = static_cast<uint32_t>(value.payload & 0xFFFFFFFFu);
  float number;
  std::memcpy(&number, &bits, sizeof(number));
  return number;
}

const char* TextOf(const TlxSprigValue& value) {
  const char* text = TextPointer(value);
  return text != nullptr ? text : "";
}

void Assign(TlxSprigValue& destination, const TlxSprigValue& source) {
  const TlxSprigValue& from = Resolve(source);
  TlxSprigValue* target = ResolveForWrite(destination);
  if (target == nullptr || target == &from) return;
  if (from.kind == kSprigString) {
    AdoptString(*target, CopyText(TextOf(from)));
    return;
  }
  FreeText(*target);
  target->kind = from.kind;
  target->payload = from.payload;
}

void MakeReference(TlxSprigValue& destination, const TlxSprigValue* target) {
  // Resolved as for a write: a variable that refers to one that left its store is the end of
  // its chain (and Invalid from now on), so an assignment through the Reference writes it.
  const TlxSprigValue* resolved = target != nullptr ? ResolveForWrite(*const_cast<TlxSprigValue*>(target)) : nullptr;
  if (resolved == nullptr || resolved->kind > kSprigInvalid) {
    SetInvalid(destination);
    return;
  }
  TlxSprigValue* place = ResolveForWrite(destination);
  if (place == nullptr || place == resolved) return;
  FreeText(*place);
  place->kind = kSprigReference;
  place->payload = PointerPayload(resolved);
}

void Release(TlxSprigValue& value) {
  FreeText(value);
  value.kind = kSprigInvalid;
  value.payload = 0;
}

// ---- Conversions ----

bool AsBoolean(const TlxSprigValue& value) {
  const TlxSprigValue& resolved = Resolve(value);
  switch (resolved.kind) {
    case kSprigBoolean: return BooleanOf(resolved);
    case kSprigInteger: return IntegerOf(resolved) != 0;
    case kSprigFloat: {
      const float number = FloatOf(resolved);
      return number < 0.0f || number > 0.0f;
    }
    case kSprigString: return std::strcmp(TextOf(resolved), "true") == 0;
    default: return false;
  }
}

int32_t AsInteger(const TlxSprigValue& value) {
  const TlxSprigValue& resolved = Resolve(value);
  switch (resolved.kind) {
    case kSprigBoolean: return BooleanOf(resolved) ? 1 : 0;
    case kSprigInteger: return IntegerOf(resolved);
    case kSprigFloat: return FloatToInteger(FloatOf(resolved));
    case kSprigString:
      return Wrap(static_cast<uint32_t>(Bravik::ToInteger(CString(TextOf(resolved)))));
    default: return 0;
  }
}

float AsFloat(const TlxSprigValue& value) {
  const TlxSprigValue& resolved = Resolve(value);
  switch (resolved.kind) {
    case kSprigBoolean: return BooleanOf(resolved) ? 1.0f : 0.0f;
    case kSprigInteger: return static_cast<float>(IntegerOf(resolved));
    case kSprigFloat: return FloatOf(resolved);
    case kSprigString:
      return static_cast<float>(Bravik::ToFloat(CString(TextOf(resolved))));
    default: return 0.0f;
  }
}

void AsString(const TlxSprigValue& value, Bravik::CMutableString& text) {
  char buffer[Bravik::kNumberAsciiCapacity];
  text.Set(TextView(Resolve(value), buffer), Bravik::kUtf8);
}

// ---- Binary operations ----

void Add(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const TlxSprigValue& ra = Resolve(a);
  const TlxSprigValue& rb = Resolve(b);
  if (RuleOf(ra, rb) == ERule::kOther && (ra.kind == kSprigString || rb.kind == kSprigString)) {
    Concatenate(out, ra, rb);
    return;
  }
  Arithmetic(
      out, ra, rb, [](float x, float y) { return x + y; },
      [](int32_t x, int32_t y, int32_t& r) {
        r = Wrap(static_cast<uint32_t>(x) + static_cast<uint32_t>(y));
        return true;
      },
      [](bool x, bool y) { return x || y; });
}

void Subtract(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const TlxSprigValue& ra = Resolve(a);
  const TlxSprigValue& rb = Resolve(b);
  if (RuleOf(ra, rb) == ERule::kOther && BothStrings(ra, rb)) {
    RemoveAll(out, ra, rb);
    return;
  }
  Arithmetic(
      out, ra, rb, [](float x, float y) { return x - y; },
      [](int32_t x, int32_t y, int32_t& r) {
        r = Wrap(static_cast<uint32_t>(x) - static_cast<uint32_t>(y));
        return true;
      },
      [](bool x, bool y) { return x != y; });
}

void Multiply(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Arithmetic(
      out, a, b, [](float x, float y) { return x * y; },
      [](int32_t x, int32_t y, int32_t& r) {
        r = Wrap(static_cast<uint32_t>(x) * static_cast<uint32_t>(y));
        return true;
      },
      AndRule);
}

void Divide(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Arithmetic(
      out, a, b, [](float x, float y) { return x / y; },
      [](int32_t x, int32_t y, int32_t& r) {
        if (y == 0) return false;
        r = (y == -1) ? Wrap(0u - static_cast<uint32_t>(x)) : x / y;
        return true;
      },
      AndRule);
}

void Modulo(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Arithmetic(
      out, a, b, [](float x, float y) { return x - y * std::trunc(x / y); },
      [](int32_t x, int32_t y, int32_t& r) {
        if (y == 0) return false;
        r = (y == -1) ? 0 : x % y;
        return true;
      },
      AndRule);
}

void BitAnd(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  SetInteger(out, AsInteger(a) & AsInteger(b));
}

void BitOr(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  SetInteger(out, AsInteger(a) | AsInteger(b));
}

void BitXor(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  SetInteger(out, AsInteger(a) ^ AsInteger(b));
}

void ShiftLeft(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const uint32_t count = static_cast<uint32_t>(AsInteger(b)) & 31u;
  SetInteger(out, Wrap(static_cast<uint32_t>(AsInteger(a)) << count));
}

void ShiftRight(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const uint32_t count = static_cast<uint32_t>(AsInteger(b)) & 31u;
  SetInteger(out, AsInteger(a) >> count);  // arithmetic: the sign bit is copied
}

void LogicalAnd(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const bool result = AsBoolean(a) && AsBoolean(b);
  SetBoolean(out, result);
}

void LogicalOr(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  const bool result = AsBoolean(a) || AsBoolean(b);
  SetBoolean(out, result);
}

void Equal(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  SetBoolean(out, Equals(Resolve(a), Resolve(b)));
}

void NotEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  SetBoolean(out, !Equals(Resolve(a), Resolve(b)));
}

void Less(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Compare(out, a, b, EOrder::kLess);
}

void LessEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Compare(out, a, b, EOrder::kLessEqual);
}

void Greater(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Compare(out, a, b, EOrder::kGreater);
}

void GreaterEqual(TlxSprigValue& out, const TlxSprigValue& a, const TlxSprigValue& b) {
  Compare(out, a, b, EOrder::kGreaterEqual);
}

// ---- Unary operations ----

void Negate(TlxSprigValue& out, const TlxSprigValue& a) {
  const TlxSprigValue& value = Resolve(a);
  switch (value.kind) {
    case kSprigBoolean: SetBoolean(out, !BooleanOf(value)); return;
    case kSprigInteger: SetInteger(out, Wrap(0u - static_cast<uint32_t>(IntegerOf(value)))); return;
    case kSprigFloat: SetFloat(out, -FloatOf(value)); return;
    case kSprigString: SetInvalid(out); return;
    default: SetInteger(out, 0); return;
  }
}

void LogicalNot(TlxSprigValue& out, const TlxSprigValue& a) {
  const TlxSprigValue& value = Resolve(a);
  switch (value.kind) {
    case kSprigBoolean: SetBoolean(out, !BooleanOf(value)); return;
    case kSprigInteger: SetBoolean(out, IntegerOf(value) == 0); return;
    case kSprigFloat: {
      const float number = FloatOf(value);
      SetBoolean(out, number > -kFloatTolerance && number < kFloatTolerance);
      return;
    }
    case kSprigString: SetInvalid(out); return;
    default: SetBoolean(out, true); return;
  }
}

void BitNot(TlxSprigValue& out, const TlxSprigValue& a) {
  const TlxSprigValue& value = Resolve(a);
  switch (value.kind) {
    case kSprigBoolean: SetBoolean(out, !BooleanOf(value)); return;
    case kSprigInteger: SetInteger(out, ~IntegerOf(value)); return;
    // The complement of the truncated integer, converted back.
    case kSprigFloat: SetFloat(out, static_cast<float>(~FloatToInteger(FloatOf(value)))); return;
    case kSprigString: SetInvalid(out); return;
    default: SetInteger(out, -1); return;
  }
}

void Increment(TlxSprigValue& value) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  switch (target->kind) {
    case kSprigBoolean: SetBoolean(*target, true); return;
    case kSprigInteger: SetInteger(*target, Wrap(static_cast<uint32_t>(IntegerOf(*target)) + 1u)); return;
    case kSprigFloat: SetFloat(*target, FloatOf(*target) + 1.0f); return;
    default: return;
  }
}

void Decrement(TlxSprigValue& value) {
  TlxSprigValue* target = ResolveForWrite(value);
  if (target == nullptr) return;
  switch (target->kind) {
    case kSprigBoolean: SetBoolean(*target, !BooleanOf(*target)); return;
    case kSprigInteger: SetInteger(*target, Wrap(static_cast<uint32_t>(IntegerOf(*target)) - 1u)); return;
    case kSprigFloat: SetFloat(*target, FloatOf(*target) - 1.0f); return;
    default: return;
  }
}

}  // namespace Quorin::Sprig
