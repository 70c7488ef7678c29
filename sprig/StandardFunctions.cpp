#include "sprig/StandardFunctions.h"

#include <array>
#include <cmath>
#include <iterator>
#include <utility>

#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;

namespace {

using Arguments = const TlxSprigValue*;

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

void MathSum(TlxSprigValue& result, Arguments args, uint64_t count) {
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

void MathMin(TlxSprigValue& result, Arguments args, uint64_t count) {
  Extreme(result, args, count, Less);
}

void MathMax(TlxSprigValue& result, Arguments args, uint64_t count) {
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

void MathClamp(TlxSprigValue& result, Arguments args, uint64_t) {
  if (IsInteger(args[0])) {
    SetInteger(result, Clamp(AsInteger(args[0]), AsInteger(args[1]), AsInteger(args[2])));
  } else {
    SetFloat(result, Clamp(AsFloat(args[0]), AsFloat(args[1]), AsFloat(args[2])));
  }
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

void StringContains(TlxSprigValue& result, Arguments args, uint64_t count) {
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& needle) {
               return Bravik::Find(text, needle) != Bravik::kNotFound;
             }));
}

void StringStartsWith(TlxSprigValue& result, Arguments args, uint64_t count) {
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& prefix) {
               return Bravik::StartsWith(text, prefix);
             }));
}

void StringEndsWith(TlxSprigValue& result, Arguments args, uint64_t count) {
  SetBoolean(result, AnyCandidate(args, count, [](const CString& text, const CString& suffix) {
               return Bravik::EndsWith(text, suffix);
             }));
}

void StringLength(TlxSprigValue& result, Arguments args, uint64_t) {
  CMutableString holder;
  SetInteger(result, static_cast<int32_t>(TextArgument(args[0], holder).GetLength()));
}

void StringReplace(TlxSprigValue& result, Arguments args, uint64_t) {
  CMutableString patternHolder;
  CMutableString replacementHolder;
  AdoptText(result, Bravik::Replace(StringArgument(args[0]),
                                    TextArgument(args[1], patternHolder),
                                    TextArgument(args[2], replacementHolder)));
}

uint64_t Position(int32_t index) { return index < 0 ? 0 : static_cast<uint64_t>(index); }

void StringSubstring(TlxSprigValue& result, Arguments args, uint64_t count) {
  const CString text = StringArgument(args[0]);
  const uint64_t end = count > 2 ? Position(AsInteger(args[2])) : text.GetLength();
  AdoptText(result, Bravik::Substring(text, Position(AsInteger(args[1])), end));
}

void StringDistance(TlxSprigValue& result, Arguments args, uint64_t) {
  SetInteger(result, static_cast<int32_t>(
                         Bravik::Distance(StringArgument(args[0]), StringArgument(args[1]))));
}

// ---- The table ----

enum class EKind : uint8_t { kAny, kString, kInteger, kNumber };

bool HasKind(const TlxSprigValue& value, EKind kind) {
  switch (kind) {
    case EKind::kString: return IsString(value);
    case EKind::kInteger: return IsInteger(value);
    case EKind::kNumber: return IsInteger(value) || IsFloat(value);
    default: return true;
  }
}

struct SKindRule {
  EKind kind;
  const char* message;  // code 14 when the argument is there and of another kind
};

constexpr uint64_t kNoLimit = ~0ull;

// A function with what it requires of its arguments: first their number, then the kinds of the
// first three, in argument order.
struct SStandardFunction {
  const char* name;
  void (*body)(TlxSprigValue& result, Arguments args, uint64_t count);
  uint64_t fewest;
  uint64_t most;
  const char* countMessage;  // code 13 when the number is outside [fewest, most]
  SKindRule kinds[3];
};

// The String functions, then the Math functions, each group in the order of binding.
constexpr SStandardFunction kFunctions[] = {
    {"String.Contains", StringContains, 2, kNoLimit,
     "String.Contains requires at least two parameters.",
     {{EKind::kString, "First parameter of String.Contains must be a string."}}},
    {"String.StartsWith", StringStartsWith, 2, kNoLimit,
     "String.StartsWith requires at least two parameters.",
     {{EKind::kString, "First parameter of String.StartsWith must be a string."}}},
    {"String.EndsWith", StringEndsWith, 2, kNoLimit,
     "String.EndsWith requires at least two parameters.",
     {{EKind::kString, "First parameter of String.EndsWith must be a string."}}},
    {"String.Length", StringLength, 1, kNoLimit, "String.Length requires one parameter.", {}},
    {"String.Replace", StringReplace, 3, 3, "String.Replace requires exactly three parameters.",
     {{EKind::kString, "First parameter of String.Replace must be a string."}}},
    {"String.Substring", StringSubstring, 2, kNoLimit,
     "String.Substring requires at least two parameters.",
     {{EKind::kString, "First parameter of String.Substring must be a string."},
      {EKind::kInteger, "Second parameter of String.Substring must be an integer."},
      {EKind::kInteger, "Thrid parameter of String.Substring must be an integer."}}},
    {"String.Distance", StringDistance, 2, 2, "String.Distance requires exactly two parameters.",
     {{EKind::kString, "First parameter of String.Distance must be a string."},
      {EKind::kString, "Second parameter of String.Distance must be a string."}}},
    {"Math.Sum", MathSum, 0, kNoLimit, nullptr, {}},
    {"Math.Min", MathMin, 1, kNoLimit, "Math.Min requires at least one parameter.", {}},
    {"Math.Max", MathMax, 1, kNoLimit, "Math.Max requires at least one parameter.", {}},
    {"Math.Clamp", MathClamp, 3, 3, "Math.Clamp requires exactly three parameters.",
     {{EKind::kNumber, "Math.Clamp requires first parameter to be float or integer."}}},
};
constexpr uint32_t kStringFunctionCount = 7;
static_assert(std::size(kFunctions) == kStringFunctionCount + 4);

template <size_t Index>
void Entry(const SprigCallable&, TlxSprigValue& result, Arguments args, uint64_t count) {
  const SStandardFunction& function = kFunctions[Index];
  if (count < function.fewest || count > function.most) {
    throw CSprigException(function.countMessage, kSprigErrorArgumentCount);
  }
  for (uint64_t i = 0; i < count && i < std::size(function.kinds); ++i) {
    if (!HasKind(args[i], function.kinds[i].kind)) {
      throw CSprigException(function.kinds[i].message, kSprigErrorArgumentKind);
    }
  }
  function.body(result, args, count);
}

template <size_t... Indexes>
constexpr auto MakeEntries(std::index_sequence<Indexes...>) {
  return std::array<SprigEntryPoint, sizeof...(Indexes)>{&Entry<Indexes>...};
}

constexpr auto kEntries = MakeEntries(std::make_index_sequence<std::size(kFunctions)>());

void BindRange(CScriptState& state, uint32_t first, uint32_t end) {
  for (uint32_t i = first; i < end; ++i) {
    state.BindFunction(SprigCallable{kEntries[i], 0}, CString(kFunctions[i].name));
  }
}

}  // namespace

void BindStringFunctions(CScriptState& state) { BindRange(state, 0, kStringFunctionCount); }

void BindMathFunctions(CScriptState& state) {
  BindRange(state, kStringFunctionCount, std::size(kFunctions));
}

void BindStandardFunctions(CScriptState& state) {
  BindStringFunctions(state);
  BindMathFunctions(state);
}

}  // namespace Quorin::Sprig
