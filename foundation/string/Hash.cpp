// The name hash: reflected CRC-32 (polynomial 0xEDB88320) eight bytes per step ("slicing by
// 8"). Long inputs run four independent lanes at once, so the table look-ups of one lane overlap
// the others' latency, and join the lane results with a table that advances a CRC over a lane of
// zero bytes. All tables are built at compile time.
#include <bit>
#include <cstring>

#include "foundation/string/String.h"

namespace Bravik {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 8;
constexpr uint64_t kLanes = 4;
constexpr uint64_t kLaneBytes = 256;

struct CrcTables {
  uint32_t slice[kSlices][256];  // slice[k][b]: CRC of byte b followed by k zero bytes
  uint32_t skip[4][256];         // skip[k][b]: the register b << 8k after kLaneBytes zero bytes
};

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kPolynomial : 0);
    tables.slice[0][byte] = crc;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      const uint32_t previous = tables.slice[k - 1][byte];
      tables.slice[k][byte] = (previous >> 8) ^ tables.slice[0][previous & 0xFF];
    }
  }
  for (int k = 0; k < 4; ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t crc = byte << (8 * k);
      for (uint64_t i = 0; i < kLaneBytes; ++i) crc = (crc >> 8) ^ tables.slice[0][crc & 0xFF];
      tables.skip[k][byte] = crc;
    }
  }
  return tables;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables.slice[0][1] == 0x77073096u && kTables.slice[0][255] == 0x2D02EF8Du);

// The word steps read the bytes in memory order as a little-endian value.
static_assert(std::endian::native == std::endian::little);

inline uint64_t Load64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
  return value;
}

// Eight bytes through the register.
inline uint32_t Step8(uint32_t crc, const uint8_t* p) {
  const auto& t = kTables.slice;
  const uint64_t w = Load64(p) ^ crc;
  return t[7][w & 0xFF] ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^
         t[4][(w >> 24) & 0xFF] ^ t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^
         t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56];
}

// The register `crc` carried over kLaneBytes zero bytes.
inline uint32_t SkipLane(uint32_t crc) {
  const auto& s = kTables.skip;
  return s[0][crc & 0xFF] ^ s[1][(crc >> 8) & 0xFF] ^ s[2][(crc >> 16) & 0xFF] ^ s[3][crc >> 24];
}

// One block of kLanes lanes. The register is linear over the bytes, so a lane started from 0
// contributes its own register, and the earlier lanes' result is carried over its length.
inline uint32_t Block(uint32_t crc, const uint8_t* p) {
  uint32_t lane1 = 0;
  uint32_t lane2 = 0;
  uint32_t lane3 = 0;
  for (uint64_t i = 0; i < kLaneBytes; i += 8) {
    crc = Step8(crc, p + i);
    lane1 = Step8(lane1, p + kLaneBytes + i);
    lane2 = Step8(lane2, p + 2 * kLaneBytes + i);
    lane3 = Step8(lane3, p + 3 * kLaneBytes + i);
  }
  crc = SkipLane(crc) ^ lane1;
  crc = SkipLane(crc) ^ lane2;
  return SkipLane(crc) ^ lane3;
}

}  // namespace

uint32_t UpdateHash(uint32_t crc, const void* bytes, uint64_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  constexpr uint64_t kBlockBytes = kLanes * kLaneBytes;
  for (; size >= kBlockBytes; size -= kBlockBytes, p += kBlockBytes) crc = Block(crc, p);
  for (; size >= 8; size -= 8, p += 8) crc = Step8(crc, p);
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ kTables.slice[0][(crc ^ *p) & 0xFF];
  return crc;
}

uint32_t CalculateHash(const IString& text) {
  if (text.IsNull()) return 0;
  return UpdateHash(kHashSeed, text.GetData(), text.GetSize());
}

}  // namespace Bravik
