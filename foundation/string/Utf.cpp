// Measuring and converting between the three encodings.
#include "foundation/string/Utf.h"

#include <bit>
#include <cstring>

#include "foundation/memory/Memory.h"

namespace Bravik {
namespace Utf {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Number of leading ASCII bytes in an 8-byte chunk (8 when all are ASCII).
inline uint32_t AsciiPrefix(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  const uint64_t high = word & kHighBits;
  if (high == 0) return 8;
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(high)) >> 3;
  } else {
    return static_cast<uint32_t>(std::countl_zero(high)) >> 3;
  }
}

struct Utf8Scan {
  uint64_t characters = 0;
  uint64_t utf16Bytes = 0;  // without terminator
};

// One pass over `size` bytes of UTF-8 (no zero among them): characters and UTF-16 size.
Utf8Scan ScanUtf8(const uint8_t* p, uint64_t size) {
  Utf8Scan scan;
  const uint8_t* const end = p + size;
  while (p < end) {
    if (end - p >= 8) {
      const uint32_t ascii = AsciiPrefix(p);
      scan.characters += ascii;
      scan.utf16Bytes += 2 * ascii;
      p += ascii;
      if (ascii == 8) continue;
    }
    uint32_t cp;
    p += Utf8Codec::Read(p, cp);
    scan.characters += 1;
    scan.utf16Bytes += Utf16Codec::EncodedBytes(cp);
  }
  return scan;
}

// Widens 8 bytes into 8 UTF-16 units at out.
inline void Widen8(const uint8_t* p, uint8_t* out) {
  char16_t wide[8];
  for (int k = 0; k < 8; ++k) wide[k] = p[k];
  std::memcpy(out, wide, 16);
}

// UTF-8 to UTF-16, ASCII 8 bytes at a time. With 32 or more input bytes left the output has at
// least 18 bytes of room (every character gives at least 2 bytes per 4 input bytes), so a whole
// chunk may be widened even when only its ASCII prefix is kept; later output overwrites the rest.
void ConvertUtf8ToUtf16(const uint8_t* p, uint8_t* out) {
  const uint8_t* const end = p + std::strlen(reinterpret_cast<const char*>(p));
  while (p < end) {
    if (end - p >= 8) {
      const uint32_t ascii = AsciiPrefix(p);
      if (ascii == 8 || end - p >= 32) {
        Widen8(p, out);
      } else {
        for (uint32_t k = 0; k < ascii; ++k) {
          const char16_t unit = p[k];
          std::memcpy(out + 2 * k, &unit, 2);
        }
      }
      p += ascii;
      out += 2 * ascii;
      if (ascii == 8) continue;
    }
    uint32_t cp;
    p += Utf8Codec::Read(p, cp);
    out = Utf16Codec::Write(cp, out);
  }
  std::memset(out, 0, 2);
}

template <typename Source, typename Target>
void ConvertText(const uint8_t* p, uint8_t* out) {
  while (Source::First(p) != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    out = Target::Write(cp, out);
  }
  std::memset(out, 0, Target::kUnit);
}

template <typename Source, typename Target>
uint64_t MeasureIn(const uint8_t* p) {
  uint64_t bytes = Target::kUnit;
  while (Source::First(p) != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    bytes += Target::EncodedBytes(cp);
  }
  return bytes;
}

template <typename Source>
uint64_t CountCharacters(const uint8_t* p) {
  uint64_t count = 0;
  while (Source::First(p) != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    ++count;
  }
  return count;
}

}  // namespace

uint64_t MeasureLength(const void* data, StringEncoding encoding) {
  if (data == nullptr) return 0;
  const auto* p = static_cast<const uint8_t*>(data);
  return WithCodec(encoding, [&](auto codec) -> uint64_t {
    using Codec = decltype(codec);
    if constexpr (Codec::kEncoding == kUtf8) {
      return ScanUtf8(p, CountBytes<Codec>(p)).characters;
    } else if constexpr (Codec::kEncoding == kUtf32) {
      return CountBytes<Codec>(p) / 4;
    } else {
      return CountCharacters<Codec>(p);
    }
  });
}

}  // namespace Utf

using namespace Utf;

uint32_t DecodeUtf8(const void* bytes, uint64_t offset) {
  if (bytes == nullptr) return 0;
  uint32_t cp;
  ReadChar(static_cast<const uint8_t*>(bytes) + offset, kUtf8, cp);
  return cp;
}

uint32_t DecodeUtf16(const void* units, uint64_t index) {
  if (units == nullptr) return 0;
  uint32_t cp;
  ReadChar(static_cast<const uint8_t*>(units) + 2 * index, kUtf16, cp);
  return cp;
}

uint8_t* EncodeUtf8(uint32_t codePoint, uint8_t* out) { return Utf8Codec::Write(codePoint, out); }

char16_t* EncodeUtf16(uint32_t codePoint, char16_t* out) {
  uint8_t* end = Utf16Codec::Write(codePoint, reinterpret_cast<uint8_t*>(out));
  return out + (end - reinterpret_cast<uint8_t*>(out)) / 2;
}

uint64_t IString::GetSizeIn(StringEncoding encoding) const {
  if (m_data == nullptr) return 0;
  const StringEncoding target = encoding == kUtf8 || encoding == kUtf16 ? encoding : kUtf32;
  const StringEncoding source = m_encoding == kUtf8 || m_encoding == kUtf16 ? m_encoding : kUtf32;
  if (source == target) return GetSize();
  if (target == kUtf32) return 4 * GetLength() + 4;
  const auto* p = static_cast<const uint8_t*>(m_data);
  if (source == kUtf8) return ScanUtf8(p, CountBytes<Utf8Codec>(p)).utf16Bytes + 2;
  return WithCodec(source, [&](auto codec) -> uint64_t {
    using Source = decltype(codec);
    return target == kUtf8 ? MeasureIn<Source, Utf8Codec>(p) : MeasureIn<Source, Utf16Codec>(p);
  });
}

void Convert(const IString& source, StringEncoding targetEncoding, void* destination) {
  const void* data = source.GetData();
  if (data == nullptr || destination == nullptr) return;
  const StringEncoding from = source.GetEncoding();
  const bool sameCodec = from == targetEncoding ||
                         (from != kUtf8 && from != kUtf16 && targetEncoding != kUtf8 &&
                          targetEncoding != kUtf16);
  if (sameCodec) {
    std::memcpy(destination, data, source.GetSize());
    return;
  }
  if (from == kUtf8 && targetEncoding == kUtf16) {
    ConvertUtf8ToUtf16(static_cast<const uint8_t*>(data), static_cast<uint8_t*>(destination));
    return;
  }
  WithCodec(from, [&](auto sourceCodec) {
    using Source = decltype(sourceCodec);
    WithCodec(targetEncoding, [&](auto targetCodec) {
      using Target = decltype(targetCodec);
      ConvertText<Source, Target>(static_cast<const uint8_t*>(data),
                                  static_cast<uint8_t*>(destination));
    });
  });
}

const void* ConvertToNew(StringEncoding targetEncoding, const IString& source,
                         uint64_t& outLength) {
  outLength = 0;
  if (source.IsEmpty()) return nullptr;
  const uint32_t terminator = UnitSize(targetEncoding);
  if (UnitSize(source.GetEncoding()) == terminator) {  // the same codec: no copy
    outLength = source.GetSize() - terminator;
    return source.GetData();
  }
  const uint64_t size = source.GetSizeIn(targetEncoding);
  void* block = Memory::Allocate(size, Memory::kObjectPool);
  Convert(source, targetEncoding, block);
  outLength = size - terminator;
  return block;
}

const void* ConvertToNew(const IString& target, const IString& source, uint64_t& outLength) {
  return ConvertToNew(target.GetEncoding(), source, outLength);
}

}  // namespace Bravik
