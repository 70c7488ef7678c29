// Numbers from text (lenient: read as far as the text fits) and number text into strings.
#include "foundation/string/NumberText.h"
#include "foundation/string/String.h"
#include "foundation/string/Utf.h"

namespace Bravik {

using namespace Utf;

namespace {

constexpr uint32_t kNoDigit = 0xFF;

uint32_t DecimalDigit(uint32_t cp) { return cp - '0' < 10 ? cp - '0' : kNoDigit; }

uint32_t HexDigit(uint32_t cp) {
  if (cp - '0' < 10) return cp - '0';
  if ((cp | 0x20) - 'a' < 6) return (cp | 0x20) - 'a' + 10;
  return kNoDigit;
}

// 10^0 to 10^19, exact in a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
// Significant fraction digits kept: 19 fit in 64 bits, and later ones are below a double's reach.
constexpr uint32_t kMaxFractionDigits = 19;
static_assert(sizeof(kPowersOfTen) / sizeof(double) == kMaxFractionDigits + 1);

// digits / 10^scale, for a scale of any size (a long run of leading zeros).
double ScaleFraction(uint64_t digits, uint64_t scale) {
  double value = static_cast<double>(digits);
  for (; scale > kMaxFractionDigits && value != 0; scale -= kMaxFractionDigits) {
    value /= kPowersOfTen[kMaxFractionDigits];
  }
  return scale > kMaxFractionDigits ? 0.0 : value / kPowersOfTen[scale];
}

// Hexadecimal digits as little-endian byte pairs: "3412" gives 0x1234.
struct SwappedHex {
  uint64_t value = 0;
  uint32_t shift = 0;     // bit position of the next byte
  bool highNibble = true;  // the next digit is the high nibble of its byte

  void Add(uint32_t digit) {
    if (shift < 64) value |= static_cast<uint64_t>(highNibble ? digit << 4 : digit) << shift;
    if (!highNibble) shift += 8;
    highNibble = !highNibble;
  }
};

bool StartsWithMinus(const IString& text) {
  uint32_t width;
  return Cursor(text).Peek(width) == '-';
}

}  // namespace

uint64_t ToUnsigned(const IString& text, bool nibbleSwapped) {
  Cursor cursor(text);
  uint64_t value = 0;
  SwappedHex swapped;
  bool hexadecimal = false;
  for (;;) {
    uint32_t width;
    const uint32_t cp = cursor.Peek(width);
    if (width == 0) break;
    cursor.at += width;
    const bool nothingYet = value == 0 && swapped.value == 0;
    if (nothingYet && (cp == 'x' || cp == '-')) {
      hexadecimal = hexadecimal || cp == 'x';
      continue;
    }
    const uint32_t digit = hexadecimal ? HexDigit(cp) : DecimalDigit(cp);
    if (digit == kNoDigit) break;
    if (!hexadecimal) {
      value = value * 10 + digit;
    } else if (nibbleSwapped) {
      swapped.Add(digit);
    } else {
      value = value * 16 + digit;
    }
  }
  return hexadecimal && nibbleSwapped ? swapped.value : value;
}

int64_t ToInteger(const IString& text, bool nibbleSwapped) {
  const uint64_t value = ToUnsigned(text, nibbleSwapped);
  return static_cast<int64_t>(StartsWithMinus(text) ? 0 - value : value);
}

double ToFloat(const IString& text) {
  Cursor cursor(text);
  double integer = 0;
  uint64_t fraction = 0;
  uint64_t scale = 0;        // fraction digits read, leading zeros included
  uint32_t significant = 0;  // fraction digits read from the first non-zero one on
  bool inFraction = false;
  for (;;) {
    uint32_t width;
    const uint32_t cp = cursor.Peek(width);
    if (width == 0) break;
    cursor.at += width;
    if (cp == '.' || cp == ',') {
      if (inFraction) break;
      inFraction = true;
      continue;
    }
    if (cp == '-' && !inFraction) continue;
    const uint32_t digit = DecimalDigit(cp);
    if (digit == kNoDigit) break;
    if (!inFraction) {
      integer = integer * 10 + digit;
    } else if (significant < kMaxFractionDigits) {
      fraction = fraction * 10 + digit;
      ++scale;
      if (fraction != 0) ++significant;
    }
  }
  const double value = integer + ScaleFraction(fraction, scale);
  return StartsWithMinus(text) ? -value : value;
}

// Number text is ASCII, so it is assigned as UTF-8 and converted on the way.
void CMutableString::AssignNumber(int64_t value, StringEncoding encoding) {
  char text[kNumberAsciiCapacity];
  SignedToAscii(value, text);
  Assign(text, kUtf8, encoding);
}

void CMutableString::AssignNumber(uint64_t value, StringEncoding encoding) {
  char text[kNumberAsciiCapacity];
  UnsignedToAscii(value, text);
  Assign(text, kUtf8, encoding);
}

void CMutableString::AssignNumber(double value, StringEncoding encoding) {
  char text[kNumberAsciiCapacity];
  DoubleToAscii(value, text);
  Assign(text, kUtf8, encoding);
}

}  // namespace Bravik
