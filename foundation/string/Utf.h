// Code-unit level coding shared by the string units: one codec per encoding with the single
// width rule (lead unit decides, a step never crosses a zero unit) and a runtime reader for the
// algorithms that walk two strings of possibly different encodings.
#pragma once

#include <cstdint>
#include <cstring>

#include "foundation/string/String.h"

namespace Bravik::Utf {

// UTF-8 sequence length by the high nibble of the lead byte; continuation bytes count as 1.
inline constexpr uint8_t kUtf8Width[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};
static_assert(sizeof(kUtf8Width) == 16);

constexpr uint32_t kReplacementCharacter = 0xFFFD;

constexpr bool IsSurrogate(uint32_t unit) { return unit - 0xD800u < 0x800u; }
constexpr bool IsHighSurrogate(uint32_t unit) { return unit - 0xD800u < 0x400u; }
constexpr bool IsLowSurrogate(uint32_t unit) { return unit - 0xDC00u < 0x400u; }

// Code units are read and written through memcpy: texts may sit at any address (large blocks
// of the object pool and packed member data are not aligned to their unit).
inline uint32_t LoadUnit16(const uint8_t* p) {
  char16_t unit;
  std::memcpy(&unit, p, 2);
  return unit;
}
inline uint32_t LoadUnit32(const uint8_t* p) {
  char32_t unit;
  std::memcpy(&unit, p, 4);
  return unit;
}

// Every codec works on bytes: First gives the lead unit (0 is the terminator), Read decodes the
// character at p (whose lead unit is not 0) and returns its width in bytes, EncodedBytes gives
// the width of a code point in this encoding, Write stores one and returns the end.
struct Utf8Codec {
  static constexpr StringEncoding kEncoding = kUtf8;
  static constexpr uint32_t kUnit = 1;

  static uint32_t First(const uint8_t* p) { return p[0]; }
  // The width of kUtf8Width, cut short at a zero byte (then cp is 0).
  static constexpr uint32_t Read(const uint8_t* p, uint32_t& cp) {
    const uint32_t lead = p[0];
    cp = 0;
    if (lead < 0x80) {
      cp = lead;
      return 1;
    }
    if (lead < 0xC0) return 1;  // a continuation byte as lead
    if (p[1] == 0) return 1;
    const uint32_t c1 = p[1] & 0x3Fu;
    if (lead < 0xE0) {
      cp = ((lead & 0x1Fu) << 6) | c1;
      return 2;
    }
    if (p[2] == 0) return 2;
    const uint32_t c2 = p[2] & 0x3Fu;
    if (lead < 0xF0) {
      cp = ((lead & 0x0Fu) << 12) | (c1 << 6) | c2;
      return 3;
    }
    if (p[3] == 0) return 3;
    if (lead < 0xF8) cp = ((lead & 0x07u) << 18) | (c1 << 12) | (c2 << 6) | (p[3] & 0x3Fu);
    return 4;  // leads 0xF8 to 0xFF give 0
  }
  static uint32_t EncodedBytes(uint32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  static uint8_t* Write(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
      *out++ = static_cast<uint8_t>(cp);
    } else if (cp < 0x800) {
      *out++ = static_cast<uint8_t>(0xC0 | (cp >> 6));
      *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out++ = static_cast<uint8_t>(0xE0 | (cp >> 12));
      *out++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else {  // values above 0x10FFFF keep their low 21 bits, still four bytes
      *out++ = static_cast<uint8_t>(0xF0 | ((cp >> 18) & 0x07));
      *out++ = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    }
    return out;
  }
};

// Read's widths are those of the table for every lead byte.
constexpr bool ReadMatchesWidthTable() {
  for (uint32_t lead = 1; lead < 256; ++lead) {
    const uint8_t text[] = {static_cast<uint8_t>(lead), 0x80, 0x80, 0x80, 0};
    uint32_t cp = 0;
    if (Utf8Codec::Read(text, cp) != kUtf8Width[lead >> 4]) return false;
  }
  return true;
}
static_assert(ReadMatchesWidthTable());

struct Utf16Codec {
  static constexpr StringEncoding kEncoding = kUtf16;
  static constexpr uint32_t kUnit = 2;

  static uint32_t First(const uint8_t* p) { return LoadUnit16(p); }
  static uint32_t Read(const uint8_t* p, uint32_t& cp) {
    const uint32_t first = LoadUnit16(p);
    if (!IsSurrogate(first)) {
      cp = first;
      return 2;
    }
    const uint32_t second = LoadUnit16(p + 2);
    if (second == 0) {  // lone surrogate before the terminator
      cp = 0;
      return 2;
    }
    cp = (IsHighSurrogate(first) && IsLowSurrogate(second))
             ? 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00)
             : kReplacementCharacter;
    return 4;
  }
  static uint32_t EncodedBytes(uint32_t cp) { return cp < 0x10000 ? 2 : 4; }
  static uint8_t* Write(uint32_t cp, uint8_t* out) {
    char16_t units[2];
    if (cp < 0x10000) {
      units[0] = static_cast<char16_t>(cp);
      std::memcpy(out, units, 2);
      return out + 2;
    }
    const uint32_t v = (cp - 0x10000) & 0xFFFFF;
    units[0] = static_cast<char16_t>(0xD800 + (v >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    std::memcpy(out, units, 4);
    return out + 4;
  }
};

struct Utf32Codec {
  static constexpr StringEncoding kEncoding = kUtf32;
  static constexpr uint32_t kUnit = 4;

  static uint32_t First(const uint8_t* p) { return LoadUnit32(p); }
  static uint32_t Read(const uint8_t* p, uint32_t& cp) {
    cp = LoadUnit32(p);
    return 4;
  }
  static uint32_t EncodedBytes(uint32_t) { return 4; }
  static uint8_t* Write(uint32_t cp, uint8_t* out) {
    const char32_t unit = cp;
    std::memcpy(out, &unit, 4);
    return out + 4;
  }
};

// Calls f with the codec of an encoding (0 UTF-8, 1 UTF-16, anything else UTF-32).
template <typename F>
decltype(auto) WithCodec(StringEncoding encoding, F&& f) {
  if (encoding == kUtf8) return f(Utf8Codec{});
  if (encoding == kUtf16) return f(Utf16Codec{});
  return f(Utf32Codec{});
}

// Reads the character at p in any encoding: returns its width in bytes, 0 at the terminator.
inline uint32_t ReadChar(const uint8_t* p, StringEncoding encoding, uint32_t& cp) {
  return WithCodec(encoding, [&](auto codec) -> uint32_t {
    using Codec = decltype(codec);
    if (Codec::First(p) == 0) return cp = 0, 0;
    return Codec::Read(p, cp);
  });
}

// Bytes before the terminator of a non-null text.
template <typename Codec>
uint64_t CountBytes(const uint8_t* p) {
  if constexpr (Codec::kUnit == 1) {
    return std::strlen(reinterpret_cast<const char*>(p));
  } else {
    const uint8_t* q = p;
    while (Codec::First(q) != 0) q += Codec::kUnit;
    return static_cast<uint64_t>(q - p);
  }
}

// A text position walked by the search algorithms.
struct Cursor {
  const uint8_t* at;
  StringEncoding encoding;

  explicit Cursor(const IString& s)
      : at(static_cast<const uint8_t*>(s.GetData())), encoding(s.GetEncoding()) {}
  bool IsNull() const { return at == nullptr; }
  // Code point here (0 at the end); width in bytes through `width` (0 at the end).
  uint32_t Peek(uint32_t& width) const {
    uint32_t cp = 0;
    width = at == nullptr ? 0 : ReadChar(at, encoding, cp);
    return cp;
  }
  // Steps up to `count` characters; returns how many were taken.
  uint64_t Skip(uint64_t count) {
    uint64_t taken = 0;
    uint32_t width = 0;
    while (taken < count && (Peek(width), width != 0)) {
      at += width;
      ++taken;
    }
    return taken;
  }
};

// Characters of a string by walking (the UTF-8 walk has an ASCII fast path).
uint64_t MeasureLength(const void* data, StringEncoding encoding);

}  // namespace Bravik::Utf
