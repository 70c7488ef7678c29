#include "sprig/StandardFunctions.h"

#include <cmath>

#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;

namespace {

using Arguments = const TlxSprigValue*;

void Require(bool condition, const char* message, uint32_t code) {
  if (!condition) throw CSprigException(message, code);
}

// The argument's text: a String as it is, anything else through AsString into `holder`.
CString TextArgument(const TlxSprigValue& value, CMutableString& holder) {
  if (IsString(value)) return CString(TextOf(Resolve(value)));
  AsString(value, holder);
  return CString(holder);
}

CString StringArgument(const TlxSprigValue& value) { return CString(TextOf(Resolve(value))); }

void AdoptText(TlxSprigValue& result, CMutableString&& text) {
  char* block = static_cast<char*>(text.Release());
  if (block == nullptr) {
    SetString(result, "");
  } else {
    AdoptString(result, block);
  }
}

// ---- Math ----

void MathSum(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  CTempValue sum;
  SetInteger(sum.Get(), 0);
  for (uint64_t i = 0; i < count; ++i) Add(sum.Get(), sum.Get(), args[i]);
  Assign(result, sum.Get());
}

// The earliest argument that no later one beats under `beats`.
void Extreme(TlxSprigValue& result, Arguments args, uint64_t count, BinaryOperation beats) {
  CTempValue held;
  Assign(held.Get(), args[0]);
  for (uint64_t i = 1; i < count; ++i) {
    CTempValue better;
    beats(better.Get(), args[i], held.Get());
    if (AsBoolean(better.Get())) Assign(held.Get(), args[i]);
  }
  Assign(result, held.Get());
}

void MathMin(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  Require(count != 0, "Math.Min requires at least one parameter.", kSprigErrorArgumentCount);
  Extreme(result, args, count, Less);
}

void MathMax(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  Require(count != 0, "Math.Max requires at least one parameter.", kSprigErrorArgumentCount);
  Extreme(result, args, count, Greater);
}

// The high bound is tested first; a value that is not at least the low bound (NaN included)
// gives the low bound.
template <typename T>
T Clamp(T value, T low, T high) {
  if (value > high) return high;
  if (!(value >= low)) return low;
  return value;
}

void MathClamp(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  Require(count == 3, "Math.Clamp requires exactly three parameters.", kSprigErrorArgumentCount);
  if (IsInteger(args[0])) {
    SetInteger(result, Clamp(AsInteger(args[0]), AsInteger(args[1]), AsInteger(args[2])));
    return;
  }
  Require(IsFloat(args[0]), "Math.Clamp requires first parameter to be float or integer.",
          kSprigErrorArgumentKind);
  SetFloat(result, Clamp(AsFloat(args[0]), AsFloat(args[1]), AsFloat(args[2])));
}

// ---- String ----

// True when `test` holds for the text and any later argument.
template <typename Test>
bool AnyCandidate(Arguments args, uint64_t count, Test test) {
  const CString text = StringArgument(args[0]);
  for (uint64_t i = 1; i < count; ++i) {
    CMutableString holder;
    if (test(text, TextArgument(args[i], holder))) return true;
  }
  return false;
}

void StringContains(const SprigCallable&, TlxSprigValue& result, Arguments args,
                    uint64_t count) {
  Require(count >= 2, "String.Contains requires at least two parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.Contains must be a string.",
          kSprigErrorArgumentKind);
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& needle) {
               return Bravik::Find(text, needle) != Bravik::kNotFound;
             }));
}

void StringStartsWith(const SprigCallable&, TlxSprigValue& result, Arguments args,
                      uint64_t count) {
  Require(count >= 2, "String.StartsWith requires at least two parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.StartsWith must be a string.",
          kSprigErrorArgumentKind);
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& prefix) {
               return Bravik::StartsWith(text, prefix);
             }));
}

void StringEndsWith(const SprigCallable&, TlxSprigValue& result, Arguments args,
                    uint64_t count) {
  Require(count >= 2, "String.EndsWith requires at least two parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.EndsWith must be a string.",
          kSprigErrorArgumentKind);
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& suffix) {
               return Bravik::EndsWith(text, suffix);
             }));
}

void StringLength(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  Require(count != 0, "String.Length requires one parameter.", kSprigErrorArgumentCount);
  CMutableString holder;
  SetInteger(result, static_cast<int32_t>(TextArgument(args[0], holder).GetLength()));
}

void StringReplace(const SprigCallable&, TlxSprigValue& result, Arguments args,
                   uint64_t count) {
  Require(count == 3, "String.Replace requires exactly three parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.Replace must be a string.",
          kSprigErrorArgumentKind);
  CMutableString patternHolder;
  CMutableString replacementHolder;
  AdoptText(result, Bravik::Replace(StringArgument(args[0]),
                                    TextArgument(args[1], patternHolder),
                                    TextArgument(args[2], replacementHolder)));
}

uint64_t Position(int32_t index) { return index < 0 ? 0 : static_cast<uint64_t>(index); }

void StringSubstring(const SprigCallable&, TlxSprigValue& result, Arguments args,
                     uint64_t count) {
  Require(count >= 2, "String.Substring requires at least two parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.Substring must be a string.",
          kSprigErrorArgumentKind);
  Require(IsInteger(args[1]), "Second parameter of String.Substring must be an integer.",
          kSprigErrorArgumentKind);
  Require(count == 2 || IsInteger(args[2]),
          "Thrid parameter of String.Substring must be an integer.", kSprigErrorArgumentKind);
  const CString text = StringArgument(args[0]);
  const uint64_t end = count > 2 ? Position(AsInteger(args[2])) : text.GetLength();
  AdoptText(result, Bravik::Substring(text, Position(AsInteger(args[1])), end));
}

void StringDistance(const SprigCallable&, TlxSprigValue& result, Arguments args,
                    uint64_t count) {
  Require(count == 2, "String.Distance requires exactly two parameters.",
          kSprigErrorArgumentCount);
  Require(IsString(args[0]), "First parameter of String.Distance must be a string.",
          kSprigErrorArgumentKind);
  Require(IsString(args[1]), "Second parameter of String.Distance must be a string.",
          kSprigErrorArgumentKind);
  SetInteger(result, static_cast<int32_t>(
                         Bravik::Distance(StringArgument(args[0]), StringArgument(args[1]))));
}

struct SStandardFunction {
  const char* name;
  SprigEntryPoint entry;
};

constexpr SStandardFunction kStringFunctions[] = {
    {"String.Contains", StringContains}, {"String.StartsWith", StringStartsWith},
    {"String.EndsWith", StringEndsWith}, {"String.Length", StringLength},
    {"String.Replace", StringReplace},   {"String.Substring", StringSubstring},
    {"String.Distance", StringDistance},
};

constexpr SStandardFunction kMathFunctions[] = {
    {"Math.Sum", MathSum},
    {"Math.Min", MathMin},
    {"Math.Max", MathMax},
    {"Math.Clamp", MathClamp},
};

template <size_t N>
void BindAll(CScriptState& state, const SStandardFunction (&functions)[N]) {
  for (const SStandardFunction& function : functions) {
    state.BindFunction(SprigCallable{function.entry, 0}, CString(function.name));
  }
}

}  // namespace

void BindStringFunctions(CScriptState& state) { BindAll(state, kStringFunctions); }

void BindMathFunctions(CScriptState& state) { BindAll(state, kMathFunctions); }

void BindStandardFunctions(CScriptState& state) {
  BindStringFunctions(state);
  BindMathFunctions(state);
}

}  // namespace Quorin::Sprig
