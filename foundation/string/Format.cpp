#include "foundation/string/Format.h"

#include <cstring>

#include "foundation/memory/Memory.h"
#include "foundation/string/NumberText.h"
#include "foundation/system/Assert.h"

namespace Bravik {

namespace {

using EKind = FormatArgument::EKind;

constexpr uint32_t kDecimalForm = 0;
constexpr uint32_t kHexForm = 1;
constexpr size_t kHexTextCapacity = 20;  // "0x", 16 digits, terminator

// UTF-8 sequence length by the high nibble of the lead byte.
constexpr uint8_t kUtf8Width[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};

// The text of one argument in one form: number text is ASCII (one byte a character, widened
// when written); string text is already in the output encoding.
struct CachedText {
  const void* data = nullptr;
  uint64_t count = 0;  // ASCII characters, or bytes of string text without terminator
  bool ascii = false;
  bool ready = false;
};

struct ArgumentCache {
  CachedText forms[2];
  const void* converted = nullptr;  // a block of ConvertToNew, freed when the call ends
  char decimal[kNumberAsciiCapacity];
  char hex[kHexTextCapacity];
};

// Units of the character at `p`; 0 at the terminator. A step never crosses a zero unit.
size_t CharacterUnits(const uint8_t* p) {
  if (*p == 0) return 0;
  const size_t width = kUtf8Width[*p >> 4];
  for (size_t i = 1; i < width; ++i) {
    if (p[i] == 0) return i;
  }
  return width;
}

size_t CharacterUnits(const char16_t* p) {
  if (*p == 0) return 0;
  const bool surrogate = *p >= 0xD800 && *p <= 0xDFFF;
  return surrogate && p[1] != 0 ? 2 : 1;
}

size_t CharacterUnits(const char32_t* p) {
  return *p == 0 ? 0 : 1;
}

// The one character after "%" or "%x": a percent sign, an argument number, or nothing.
template <typename Unit, typename Sink>
const Unit* Placeholder(const Unit* p, Sink& sink) {
  const bool hex = *p == 'x';
  if (hex) ++p;
  if (*p == '%') sink.Percent();
  if (*p >= '1' && *p <= '8') sink.Argument(static_cast<uint32_t>(*p - '1'), hex);
  return p + CharacterUnits(p);
}

// Hands the format to `sink` as literal runs, percent signs and argument references.
template <typename Unit, typename Sink>
void WalkFormat(const Unit* p, Sink& sink) {
  const Unit* run = p;
  while (*p != 0) {
    if (*p != '%') {
      ++p;
      continue;
    }
    sink.Literal(run, static_cast<uint64_t>(p - run));
    p = Placeholder(p + 1, sink);
    run = p;
  }
  sink.Literal(run, static_cast<uint64_t>(p - run));
}

// Float, double and plain string arguments have a single text for both forms.
bool UsesHexText(EKind kind, bool hex) {
  return hex && (kind == EKind::kUnsigned || kind == EKind::kSigned || kind == EKind::kMapable);
}

class CFormatter {
 public:
  CFormatter(const IString& format, const FormatArgument (&arguments)[kFormatArgumentCount])
      : m_format(format), m_arguments(arguments), m_width(UnitSize(format.GetEncoding())) {}
  CFormatter(const CFormatter&) = delete;
  CFormatter& operator=(const CFormatter&) = delete;
  ~CFormatter() {
    for (ArgumentCache& cache : m_caches) Memory::Free(const_cast<void*>(cache.converted));
  }

  void Run(CMutableString& result);
  const CachedText& Text(uint32_t index, bool hex);
  uint32_t Width() const { return m_width; }

 private:
  template <typename Sink>
  void Walk(Sink& sink);
  void Convert(const FormatArgument& argument, ArgumentCache& cache, uint32_t form);
  void ConvertNumber(const FormatArgument& argument, ArgumentCache& cache, uint32_t form);
  void ConvertString(const IString& text, ArgumentCache& cache);

  const IString& m_format;
  const FormatArgument (&m_arguments)[kFormatArgumentCount];
  const uint32_t m_width;
  ArgumentCache m_caches[kFormatArgumentCount];
};

// First pass: the exact byte size of the result, terminator included.
struct MeasureSink {
  CFormatter& formatter;
  uint64_t total;

  void Literal(const void*, uint64_t units) { total += units * formatter.Width(); }
  void Percent() { total += formatter.Width(); }
  void Argument(uint32_t index, bool hex) {
    const CachedText& text = formatter.Text(index, hex);
    total += text.ascii ? text.count * formatter.Width() : text.count;
  }
};

// Second pass: copies literal runs and argument texts into the result buffer.
struct WriteSink {
  CFormatter& formatter;
  uint8_t* out;

  void Unit(uint32_t value) {
    if (formatter.Width() == 1) *out = static_cast<uint8_t>(value);
    if (formatter.Width() == 2) {
      const char16_t unit = static_cast<char16_t>(value);
      std::memcpy(out, &unit, sizeof unit);
    }
    if (formatter.Width() == 4) std::memcpy(out, &value, sizeof value);
    out += formatter.Width();
  }
  void Bytes(const void* data, uint64_t count) {
    if (count != 0) std::memcpy(out, data, count);
    out += count;
  }
  void Literal(const void* run, uint64_t units) { Bytes(run, units * formatter.Width()); }
  void Percent() { Unit('%'); }
  void Argument(uint32_t index, bool hex) {
    const CachedText& text = formatter.Text(index, hex);
    if (!text.ascii || formatter.Width() == 1) return Bytes(text.data, text.count);
    const char* ascii = static_cast<const char*>(text.data);
    for (uint64_t i = 0; i < text.count; ++i) Unit(static_cast<uint8_t>(ascii[i]));
  }
};

template <typename Sink>
void CFormatter::Walk(Sink& sink) {
  const void* data = m_format.GetData();
  if (data == nullptr) return;
  if (m_width == 1) return WalkFormat(static_cast<const uint8_t*>(data), sink);
  if (m_width == 2) return WalkFormat(static_cast<const char16_t*>(data), sink);
  WalkFormat(static_cast<const char32_t*>(data), sink);
}

void CFormatter::Run(CMutableString& result) {
  MeasureSink measure{*this, m_width};
  Walk(measure);
  auto* buffer = static_cast<uint8_t*>(Memory::Allocate(measure.total, Memory::kObjectPool));
  WriteSink write{*this, buffer};
  Walk(write);
  write.Unit(0);
  BRAVIK_ASSERT(write.out == buffer + measure.total);
  result.Adopt(buffer, m_format.GetEncoding());
}

const CachedText& CFormatter::Text(uint32_t index, bool hex) {
  const FormatArgument& argument = m_arguments[index];
  const uint32_t form = UsesHexText(argument.kind, hex) ? kHexForm : kDecimalForm;
  ArgumentCache& cache = m_caches[index];
  if (!cache.forms[form].ready) {
    Convert(argument, cache, form);
    cache.forms[form].ready = true;
  }
  return cache.forms[form];
}

void CFormatter::Convert(const FormatArgument& argument, ArgumentCache& cache, uint32_t form) {
  if (argument.kind == EKind::kString) return ConvertString(*argument.text, cache);
  if (argument.kind == EKind::kMapable && form == kDecimalForm) {
    return ConvertString(argument.mapableText(argument.object), cache);
  }
  ConvertNumber(argument, cache, form);
}

void CFormatter::ConvertNumber(const FormatArgument& argument, ArgumentCache& cache,
                               uint32_t form) {
  CachedText& text = cache.forms[form];
  text.ascii = true;
  text.data = form == kHexForm ? cache.hex : cache.decimal;
  if (form == kHexForm) {
    const bool mapable = argument.kind == EKind::kMapable;
    const uint64_t value = mapable ? argument.mapableHash(argument.object) : argument.unsignedValue;
    text.count = HexToAscii(value, cache.hex);
    return;
  }
  switch (argument.kind) {
    case EKind::kUnsigned:
      text.count = UnsignedToAscii(argument.unsignedValue, cache.decimal);
      break;
    case EKind::kSigned:
      text.count = SignedToAscii(argument.signedValue, cache.decimal);
      break;
    case EKind::kFloat:
      text.count = FloatToAscii(argument.floatValue, cache.decimal);
      break;
    case EKind::kDouble:
      text.count = DoubleToAscii(argument.doubleValue, cache.decimal);
      break;
    default:
      BRAVIK_ASSERT(false);
      break;
  }
}

// String text is used in place when it is already in the output encoding.
void CFormatter::ConvertString(const IString& source, ArgumentCache& cache) {
  CachedText& text = cache.forms[kDecimalForm];
  text.data = ConvertToNew(m_format.GetEncoding(), source, text.count);
  if (text.data != source.GetData()) cache.converted = text.data;
}

}  // namespace

void FormatArguments(CMutableString& result, const IString& format,
                     const FormatArgument (&arguments)[kFormatArgumentCount]) {
  CFormatter formatter(format, arguments);
  formatter.Run(result);
}

}  // namespace Bravik
