// Differential tests: conversions against iconv and the name hash against zlib's crc32, on
// random text.
#include <iconv.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/string/String.h"

using namespace Bravik;

namespace {

// Random valid code points, weighted towards the edges of each UTF-8 length and of the
// surrogate range.
std::vector<char32_t> RandomText(std::mt19937& random, size_t maxLength) {
  static const char32_t kEdges[] = {0x7F,   0x80,   0x7FF,   0x800,   0xD7FF,
                                    0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
  std::vector<char32_t> text(random() % (maxLength + 1));
  for (char32_t& cp : text) {
    switch (random() % 6) {
      case 0: case 1: cp = 1 + random() % 0x7F; break;
      case 2: cp = 0x80 + random() % (0x800 - 0x80); break;
      case 3: cp = 0x800 + random() % (0xD800 - 0x800); break;
      case 4: cp = 0x10000 + random() % 0x100000; break;
      default: cp = kEdges[random() % std::size(kEdges)]; break;
    }
  }
  text.push_back(0);
  return text;
}

// Converts zero-terminated text with iconv; the result keeps its terminator.
std::vector<uint8_t> Iconv(const char* to, const char* from, const void* data, size_t bytes) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from << " -> " << to;
  std::vector<uint8_t> out(bytes * 4 + 16);
  char* in = const_cast<char*>(static_cast<const char*>(data));
  char* outAt = reinterpret_cast<char*>(out.data());
  size_t inLeft = bytes;
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outAt, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

constexpr const char* kIconvNames[] = {"UTF-8", "UTF-16LE", "UTF-32LE"};

}  // namespace

TEST(StringIconv, ConversionsMatchOnRandomText) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 1500; ++round) {
    const std::vector<char32_t> text = RandomText(random, round % 10 == 0 ? 400 : 40);
    const uint64_t length = text.size() - 1;
    // Every encoding's form comes from iconv, not from us; all nine directions must match it.
    std::vector<uint8_t> forms[3];
    for (int e = 0; e < 3; ++e) {
      forms[e] = Iconv(kIconvNames[e], "UTF-32LE", text.data(), text.size() * 4);
    }
    ASSERT_EQ(forms[2].size(), text.size() * 4);
    for (StringEncoding from : {kUtf8, kUtf16, kUtf32}) {
      const CString source(forms[from].data(), from);
      ASSERT_EQ(source.GetLength(), length) << "round " << round;
      ASSERT_EQ(source.GetSize(), forms[from].size());
      for (StringEncoding to : {kUtf8, kUtf16, kUtf32}) {
        ASSERT_EQ(source.GetSizeIn(to), forms[to].size()) << from << " -> " << to;
        std::vector<uint8_t> out(forms[to].size());
        Convert(source, to, out.data());
        ASSERT_EQ(out, forms[to]) << from << " -> " << to << " round " << round;
      }
    }
  }
}

TEST(StringZlib, HashIsTheInvertedCrc32) {
  std::mt19937 random(5);
  for (int round = 0; round < 900; ++round) {
    const StringEncoding encoding = static_cast<StringEncoding>(round % 3);
    const uint32_t unit = UnitSize(encoding);
    const size_t units = round % 50 == 0 ? 70000 : random() % 300;
    // One spare leading byte so that UTF-8 texts start at odd addresses too.
    std::vector<uint8_t> buffer(1 + (units + 1) * unit, 0);
    uint8_t* start = buffer.data() + (encoding == kUtf8 ? round & 1 : 0);
    for (size_t i = 0; i < units; ++i) {
      const uint32_t value = 1 + random() % (encoding == kUtf8 ? 0xFF : 0xFFFF);
      std::memcpy(start + i * unit, &value, unit);
    }
    const CString text(start, encoding);
    const uLong expected = ~crc32(0, start, static_cast<uInt>((units + 1) * unit)) & 0xFFFFFFFFu;
    ASSERT_EQ(CalculateHash(text), expected) << "round " << round;
    // The table path that processors without carry-less multiplication take.
    const uint32_t byTables = UpdateHashByTables(kHashSeed, start, (units + 1) * unit);
    ASSERT_EQ(byTables, expected) << "round " << round;
  }
}
