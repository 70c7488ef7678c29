// The name hash: reflected CRC-32 (polynomial 0xEDB88320) eight bytes per step ("slicing by
// 8"). Long inputs run four independent lanes at once, so the table look-ups of one lane overlap
// the others' latency, and join the lane results with a table that advances a CRC over a lane of
// zero bytes. All tables are built at compile time. Where the processor multiplies without
// carries, long inputs are folded 64 bytes at a time instead, several times faster.
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "foundation/string/String.h"
#include "foundation/system/Platform.h"

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

#if defined(__x86_64__)
// Folding by carry-less multiplication: four 128-bit accumulators absorb 64 bytes per round, are
// folded into one, reduced to 64 and then 32 bits, and a Barrett step gives the register. The
// constants are powers of x modulo the polynomial (bit-reflected) for the fold distances of 512,
// 128 and 64 bits, then the quotient and the polynomial for the reduction. `size` is at least 64
// and a multiple of 16.
constexpr int64_t kFold512Low = 0x154442bd4, kFold512High = 0x1c6e41596;
constexpr int64_t kFold128Low = 0x1751997d0, kFold128High = 0xccaa009e;
constexpr int64_t kFold64 = 0x163cd6124;
constexpr int64_t kBarrettPolynomial = 0x1db710641, kBarrettQuotient = 0x1f7011641;

[[gnu::target("pclmul,sse4.1")]] inline __m128i Fold(__m128i accumulator, __m128i constants, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(accumulator, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(accumulator, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

[[gnu::target("pclmul,sse4.1")]] uint32_t FoldHash(uint32_t crc, const uint8_t* p, uint64_t size) {
  const auto load = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  size -= 64;
  const __m128i by512 = _mm_set_epi64x(kFold512High, kFold512Low);
  for (; size >= 64; size -= 64, p += 64) {
    x0 = Fold(x0, by512, load(p));
    x1 = Fold(x1, by512, load(p + 16));
    x2 = Fold(x2, by512, load(p + 32));
    x3 = Fold(x3, by512, load(p + 48));
  }
  const __m128i by128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x = Fold(Fold(Fold(x0, by128, x1), by128, x2), by128, x3);
  for (; size >= 16; size -= 16, p += 16) x = Fold(x, by128, load(p));
  // 128 to 64 bits, then 64 to 32 (appending 32 zero bits), then the Barrett reduction.
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(by128, x, 0x01));
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  x = _mm_xor_si128(_mm_srli_si128(x, 4),
                    _mm_clmulepi64_si128(_mm_and_si128(x, mask32), _mm_set_epi64x(0, kFold64), 0x00));
  const __m128i barrett = _mm_set_epi64x(kBarrettQuotient, kBarrettPolynomial);
  __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), barrett, 0x10), mask32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}
#endif

// Below this the tables are as fast as the fold's set-up and reduction.
constexpr uint64_t kFoldMinimum = 128;

}  // namespace

uint32_t UpdateHash(uint32_t crc, const void* bytes, uint64_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
#if defined(__x86_64__)
  if (size >= kFoldMinimum && System::HasCarrylessMultiply()) {
    const uint64_t folded = size & ~uint64_t{15};
    crc = FoldHash(crc, p, folded);
    p += folded;
    size -= folded;
  }
#endif
  return UpdateHashByTables(crc, p, size);
}

uint32_t UpdateHashByTables(uint32_t crc, const void* bytes, uint64_t size) {
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
