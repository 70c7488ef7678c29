#include "foundation/string/NumberText.h"

#include <cmath>
#include <cstring>

namespace Bravik {

namespace {

constexpr char kDecimalDigits[] = "0123456789";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr double kTwoTo63 = 9223372036854775808.0;

// Limits of the fraction loop per floating-point type.
template <typename Real>
struct TRealTextLimits;
template <>
struct TRealTextLimits<float> {
  static constexpr float kLimit = 0.000001f;
  static constexpr int kDigits = 7;
  static constexpr size_t kChars = 63;
};
template <>
struct TRealTextLimits<double> {
  static constexpr double kLimit = 1e-15;
  static constexpr int kDigits = 17;
  static constexpr size_t kChars = 127;
};

// Writes `count` digits of `value` in `base`, most significant first, zero-padded.
void WriteDigits(uint64_t value, uint32_t base, const char* digits, char* text, size_t count) {
  for (size_t i = count; i > 0; --i) {
    text[i - 1] = digits[value % base];
    value /= base;
  }
}

size_t DigitCount(uint64_t value, uint32_t base) {
  size_t count = 1;
  while (value >= base) {
    value /= base;
    ++count;
  }
  return count;
}

size_t Terminate(char* text, size_t length) {
  text[length] = 0;
  return length;
}

// An integer of up to 309 decimal digits in base-1e9 limbs, least significant first: the
// exact value of a huge double, built as its mantissa times a power of two.
class CDecimalLimbs {
 public:
  explicit CDecimalLimbs(uint64_t value) {
    do {
      m_limbs[m_count++] = static_cast<uint32_t>(value % kLimbBase);
      value /= kLimbBase;
    } while (value != 0);
  }

  // `bits` at most 29, so a limb times 2^bits plus a carry fits 64 bits.
  void ShiftLeft(int bits) {
    uint64_t carry = 0;
    for (size_t i = 0; i < m_count; ++i) {
      const uint64_t product = (static_cast<uint64_t>(m_limbs[i]) << bits) + carry;
      m_limbs[i] = static_cast<uint32_t>(product % kLimbBase);
      carry = product / kLimbBase;
    }
    while (carry != 0) {
      m_limbs[m_count++] = static_cast<uint32_t>(carry % kLimbBase);
      carry /= kLimbBase;
    }
  }

  size_t Print(char* text) const {
    size_t length = UnsignedToAscii(m_limbs[m_count - 1], text);
    for (size_t i = m_count - 1; i > 0; --i) {
      WriteDigits(m_limbs[i - 1], 10, kDecimalDigits, text + length, kLimbDigits);
      length += kLimbDigits;
    }
    return Terminate(text, length);
  }

 private:
  static constexpr uint64_t kLimbBase = 1000000000;
  static constexpr size_t kLimbDigits = 9;
  uint32_t m_limbs[40] = {};  // 2^1024 has 309 digits: 35 limbs
  size_t m_count = 0;
};

// Exact decimal digits of an integral magnitude of at least 2^63 (any such double is an
// integer): its 53-bit mantissa shifted left by the remaining exponent.
size_t LargeIntegerToAscii(double magnitude, char* text) {
  int exponent = 0;
  const double fraction = std::frexp(magnitude, &exponent);
  CDecimalLimbs limbs(static_cast<uint64_t>(std::ldexp(fraction, 53)));
  for (int shift = exponent - 53; shift > 0; shift -= 29) {
    limbs.ShiftLeft(shift < 29 ? shift : 29);
  }
  return limbs.Print(text);
}

// The integer part of a finite value, truncated toward zero; "-" also for values in (-1, 0).
template <typename Real>
size_t IntegerPartToAscii(Real value, Real truncated, char* text) {
  const double wide = static_cast<double>(truncated);
  if (wide >= -kTwoTo63 && wide < kTwoTo63) {
    const size_t sign = truncated == 0 && value < 0 ? 1 : 0;
    if (sign != 0) text[0] = '-';
    return sign + SignedToAscii(static_cast<int64_t>(wide), text + sign);
  }
  if (wide > 0) return LargeIntegerToAscii(wide, text);
  text[0] = '-';
  return 1 + LargeIntegerToAscii(-wide, text + 1);
}

// Fraction digits by truncation in the value's own precision: stop once the digits written
// come within the limit of the fraction, or at the digit or text limit.
template <typename Real>
size_t FractionToAscii(Real fraction, char* text, size_t length) {
  using Limits = TRealTextLimits<Real>;
  if (!(fraction > Limits::kLimit)) {
    text[length++] = '0';
    return length;
  }
  Real running = fraction;
  Real scale = 1;
  Real written = 0;
  int digits = 0;
  do {
    running *= 10;
    scale *= 10;
    const int digit = static_cast<int>(static_cast<int64_t>(running) % 10);
    text[length++] = kDecimalDigits[digit];
    ++digits;
    written += static_cast<Real>(digit) / scale;
  } while (fraction - written > Limits::kLimit && digits < Limits::kDigits &&
           length < Limits::kChars);
  return length;
}

template <typename Real>
size_t RealToAscii(Real value, char* text) {
  if (!std::isfinite(value)) {
    const char* name = std::isnan(value) ? "NaN" : value > 0 ? "Inf" : "-Inf";
    std::strcpy(text, name);
    return std::strlen(name);
  }
  const Real truncated = std::trunc(value);
  size_t length = IntegerPartToAscii(value, truncated, text);
  text[length++] = '.';
  length = FractionToAscii<Real>(std::fabs(value - truncated), text, length);
  return Terminate(text, length);
}

size_t UnitWidth(uint32_t encoding) {
  return encoding == 0 ? 1 : encoding == 1 ? 2 : 4;
}

// Copies ASCII text and its terminator into `buffer` as code units of `encoding`.
size_t EmitText(const char* ascii, size_t length, void* buffer, uint32_t encoding) {
  const size_t width = UnitWidth(encoding);
  if (buffer == nullptr || (length + 1) * width > kNumberTextBufferSize) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i <= length; ++i) {
    const uint32_t unit = static_cast<unsigned char>(ascii[i]);
    if (width == 1) out[i] = static_cast<unsigned char>(unit);
    if (width == 2) {
      const uint16_t narrow = static_cast<uint16_t>(unit);
      std::memcpy(out + 2 * i, &narrow, 2);
    }
    if (width == 4) std::memcpy(out + 4 * i, &unit, 4);
  }
  return length * width;
}

}  // namespace

size_t UnsignedToAscii(uint64_t value, char* text) {
  const size_t count = DigitCount(value, 10);
  WriteDigits(value, 10, kDecimalDigits, text, count);
  return Terminate(text, count);
}

size_t SignedToAscii(int64_t value, char* text) {
  if (value >= 0) return UnsignedToAscii(static_cast<uint64_t>(value), text);
  text[0] = '-';
  // Negate in unsigned arithmetic so that the smallest value keeps its magnitude.
  return 1 + UnsignedToAscii(0 - static_cast<uint64_t>(value), text + 1);
}

size_t HexToAscii(uint64_t value, char* text) {
  const size_t count = DigitCount(value, 16);
  text[0] = '0';
  text[1] = 'x';
  WriteDigits(value, 16, kHexDigits, text + 2, count);
  return Terminate(text, count + 2);
}

size_t FloatToAscii(float value, char* text) {
  return RealToAscii<float>(value, text);
}

size_t DoubleToAscii(double value, char* text) {
  return RealToAscii<double>(value, text);
}

size_t UnsignedToText(uint64_t value, void* buffer, uint32_t encoding) {
  char text[kNumberAsciiCapacity];
  return EmitText(text, UnsignedToAscii(value, text), buffer, encoding);
}

size_t SignedToText(int64_t value, void* buffer, uint32_t encoding) {
  char text[kNumberAsciiCapacity];
  return EmitText(text, SignedToAscii(value, text), buffer, encoding);
}

size_t HexToText(uint64_t value, void* buffer, uint32_t encoding) {
  char text[kNumberAsciiCapacity];
  return EmitText(text, HexToAscii(value, text), buffer, encoding);
}

size_t FloatToText(float value, void* buffer, uint32_t encoding) {
  char text[kNumberAsciiCapacity];
  return EmitText(text, FloatToAscii(value, text), buffer, encoding);
}

size_t DoubleToText(double value, void* buffer, uint32_t encoding) {
  char text[kNumberAsciiCapacity];
  return EmitText(text, DoubleToAscii(value, text), buffer, encoding);
}

}  // namespace Bravik
