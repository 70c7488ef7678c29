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

// UTF-8 to UTF-16 with whole 8-byte ASCII chunks widened in one go.
void ConvertUtf8ToUtf16(const uint8_t* p, char16_t* out) {
  const uint8_t* const end = p + std::strlen(reinterpret_cast<const char*>(p));
  while (p < end) {
    if (end - p >= 8) {
      const uint32_t ascii = AsciiPrefix(p);
      if (ascii == 8) {
        for (int k = 0; k < 8; ++k) out[k] = p[k];
        p += 8;
        out += 8;
        continue;
      }
      for (uint32_t k = 0; k < ascii; ++k) out[k] = p[k];
      p += ascii;
      out += ascii;
    }
    uint32_t cp;
    p += Utf8Codec::Read(p, cp);
    out = Utf16Codec::Write(cp, out);
  }
  *out = 0;
}

template <typename Source, typename Target>
void ConvertText(const typename Source::Unit* p, typename Target::Unit* out) {
  while (*p != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    out = Target::Write(cp, out);
  }
  *out = 0;
}

template <typename Source, typename Target>
uint64_t MeasureIn(const typename Source::Unit* p) {
  uint64_t bytes = sizeof(typename Target::Unit);
  while (*p != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    bytes += Target::EncodedBytes(cp);
  }
  return bytes;
}

template <typename Source>
uint64_t CountCharacters(const typename Source::Unit* p) {
  uint64_t count = 0;
  while (*p != 0) {
    uint32_t cp;
    p += Source::Read(p, cp);
    ++count;
  }
  return count;
}

}  // namespace

uint64_t MeasureLength(const void* data, StringEncoding encoding) {
  if (data == nullptr) return 0;
  return WithCodec(encoding, [&](auto codec) -> uint64_t {
    using Codec = decltype(codec);
    const auto* p = static_cast<const typename Codec::Unit*>(data);
    if constexpr (Codec::kEncoding == kUtf8) {
      return ScanUtf8(p, CountUnits(p)).characters;
    } else if constexpr (Codec::kEncoding == kUtf32) {
      return CountUnits(p);
    } else {
      return CountCharacters<Codec>(p);
    }
  });
}

}  // namespace Utf

using namespace Utf;

uint32_t DecodeUtf8(const void* bytes, uint64_t offset) {
  if (bytes == nullptr) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(bytes) + offset;
  uint32_t cp = 0;
  if (*p != 0) Utf8Codec::Read(p, cp);
  return cp;
}

uint32_t DecodeUtf16(const void* units, uint64_t index) {
  if (units == nullptr) return 0;
  const char16_t* p = static_cast<const char16_t*>(units) + index;
  uint32_t cp = 0;
  if (*p != 0) Utf16Codec::Read(p, cp);
  return cp;
}

uint8_t* EncodeUtf8(uint32_t codePoint, uint8_t* out) { return Utf8Codec::Write(codePoint, out); }

char16_t* EncodeUtf16(uint32_t codePoint, char16_t* out) {
  return Utf16Codec::Write(codePoint, out);
}

uint64_t IString::GetSizeIn(StringEncoding encoding) const {
  if (m_data == nullptr) return 0;
  const StringEncoding target = encoding == kUtf8 || encoding == kUtf16 ? encoding : kUtf32;
  const StringEncoding source = m_encoding == kUtf8 || m_encoding == kUtf16 ? m_encoding : kUtf32;
  if (source == target) return GetSize();
  if (target == kUtf32) return 4 * GetLength() + 4;
  if (source == kUtf8) {
    const auto* p = static_cast<const uint8_t*>(m_data);
    return ScanUtf8(p, CountUnits(p)).utf16Bytes + 2;
  }
  return WithCodec(source, [&](auto codec) -> uint64_t {
    using Source = decltype(codec);
    const auto* p = static_cast<const typename Source::Unit*>(m_data);
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
    ConvertUtf8ToUtf16(static_cast<const uint8_t*>(data), static_cast<char16_t*>(destination));
    return;
  }
  WithCodec(from, [&](auto sourceCodec) {
    using Source = decltype(sourceCodec);
    WithCodec(targetEncoding, [&](auto targetCodec) {
      using Target = decltype(targetCodec);
      ConvertText<Source, Target>(static_cast<const typename Source::Unit*>(data),
                                  static_cast<typename Target::Unit*>(destination));
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
