// The name hash: reflected CRC-32 (polynomial 0xEDB88320), sixteen bytes per step through
// sixteen derived tables ("slicing by 16"), all built at compile time.
#include <bit>
#include <cstring>

#include "foundation/string/String.h"

namespace Bravik {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

struct CrcTables {
  uint32_t slice[kSlices][256];
};

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kPolynomial : 0);
    tables.slice[0][byte] = crc;
  }
  // slice[k][b]: the CRC of byte b followed by k zero bytes.
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      const uint32_t previous = tables.slice[k - 1][byte];
      tables.slice[k][byte] = (previous >> 8) ^ tables.slice[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables.slice[0][1] == 0x77073096u && kTables.slice[0][255] == 0x2D02EF8Du);

// The word-at-a-time steps read the bytes in memory order as a little-endian value.
static_assert(std::endian::native == std::endian::little);

inline uint32_t Load32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

}  // namespace

uint32_t UpdateHash(uint32_t crc, const void* bytes, uint64_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  const auto& t = kTables.slice;
  for (; size >= 16; size -= 16, p += 16) {
    const uint32_t a = Load32(p) ^ crc;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return crc;
}

uint32_t CalculateHash(const IString& text) {
  if (text.IsNull()) return 0;
  return UpdateHash(kHashSeed, text.GetData(), text.GetSize());
}

}  // namespace Bravik
