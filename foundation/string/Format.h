// The message formatter: a format string with numbered placeholders and up to eight typed
// arguments give a new string in the format's encoding.
//
//   %1 ... %8    argument N as text        %x1 ... %x8   argument N in hexadecimal ("0x...")
//   %% and %x%   one "%"                   % or %x and any other character: nothing
//
// Only one character follows "%" or "%x" ("%12" is argument 1 then "2"). A format that ends in
// "%" or "%x" outputs nothing for that tail.
#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>

#include "foundation/string/String.h"

namespace Bravik {

constexpr uint32_t kFormatArgumentCount = 8;

// A recorded name keyed by its hash: any type with `Text()` (returning a reference to a string
// it keeps) and `Hash()` formats as its text with %N and as "0x" + its 32-bit hash with %xN.
template <typename T>
concept MapableText = requires(const T& value) {
  requires std::is_lvalue_reference_v<decltype(value.Text())>;
  requires std::is_base_of_v<IString, std::remove_cvref_t<decltype(value.Text())>>;
  { value.Hash() } -> std::convertible_to<uint32_t>;
};

// One argument of Format reduced to its kind and value; a mapable argument is reached through
// two functions so that its text and hash are fetched only when a placeholder needs them.
struct FormatArgument {
  enum class EKind : uint8_t { kUnsigned, kSigned, kFloat, kDouble, kString, kMapable };

  EKind kind = EKind::kSigned;
  union {
    int64_t signedValue = 0;
    uint64_t unsignedValue;
    float floatValue;
    double doubleValue;
    const IString* text;
    const void* object;
  };
  const IString& (*mapableText)(const void* object) = nullptr;
  uint32_t (*mapableHash)(const void* object) = nullptr;
};

// Replaces `result` (normally empty) with the formatted text, allocated once at its exact size.
// Every position is converted at most once per form, only if a placeholder refers to it; positions
// beyond the given arguments are the signed number 0. Raises std::bad_alloc and leaves `result`
// unchanged when an allocation fails.
void FormatArguments(CMutableString& result, const IString& format,
                     const FormatArgument (&arguments)[kFormatArgumentCount]);

namespace FormatDetail {

template <typename T>
const IString& MapableTextOf(const void* object) {
  return static_cast<const T*>(object)->Text();
}

template <typename T>
uint32_t MapableHashOf(const void* object) {
  return static_cast<uint32_t>(static_cast<const T*>(object)->Hash());
}

template <typename T>
constexpr bool kIsCharacterType =
    std::is_same_v<T, bool> || std::is_same_v<T, char> || std::is_same_v<T, wchar_t> ||
    std::is_same_v<T, char8_t> || std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

template <typename T>
FormatArgument MakeArgument(const T& value) {
  FormatArgument argument;
  if constexpr (MapableText<T>) {
    argument.kind = FormatArgument::EKind::kMapable;
    argument.object = &value;
    argument.mapableText = &MapableTextOf<T>;
    argument.mapableHash = &MapableHashOf<T>;
  } else if constexpr (std::is_base_of_v<IString, T>) {
    argument.kind = FormatArgument::EKind::kString;
    argument.text = &value;
  } else if constexpr (std::is_same_v<T, float>) {
    argument.kind = FormatArgument::EKind::kFloat;
    argument.floatValue = value;
  } else if constexpr (std::is_same_v<T, double>) {
    argument.kind = FormatArgument::EKind::kDouble;
    argument.doubleValue = value;
  } else {
    static_assert(std::is_integral_v<T> && !kIsCharacterType<T>,
                  "Format takes integers, float, double, strings and mapable strings; "
                  "wrap text in CString and pass booleans as the strings true/false");
    if constexpr (std::is_signed_v<T>) {
      argument.signedValue = static_cast<int64_t>(value);
    } else {
      argument.kind = FormatArgument::EKind::kUnsigned;
      argument.unsignedValue = static_cast<uint64_t>(value);
    }
  }
  return argument;
}

}  // namespace FormatDetail

// Formats up to eight arguments (see the top of this file); the result takes the format's
// encoding and its size counts the terminator.
template <typename... Args>
void Format(CMutableString& result, const IString& format, const Args&... args) {
  static_assert(sizeof...(Args) <= kFormatArgumentCount, "Format takes at most 8 arguments");
  const FormatArgument arguments[kFormatArgumentCount] = {FormatDetail::MakeArgument(args)...};
  FormatArguments(result, format, arguments);
}

}  // namespace Bravik
