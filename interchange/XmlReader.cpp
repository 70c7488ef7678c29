#include "interchange/XmlReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Quorin {

namespace {

// Byte classes of the scanning loops.
constexpr uint8_t kBlank = 1;
constexpr uint8_t kAsciiNameStart = 2;
constexpr uint8_t kNameStop = 4;       // ends an element or end-tag name: blank, ">"
constexpr uint8_t kAttributeStop = 8;  // ends an attribute name: blank, "=", ">"
constexpr uint8_t kValueStop = 16;     // opens or ends a value: the two quotes, ">"

constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (const char blank : {' ', '\t', '\r', '\n'}) {
    classes[static_cast<uint8_t>(blank)] |= kBlank | kNameStop | kAttributeStop;
  }
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] |= kAsciiNameStart;
  for (int c = 'a'; c <= 'z'; ++c) classes[c] |= kAsciiNameStart;
  classes[':'] |= kAsciiNameStart;
  classes['_'] |= kAsciiNameStart;
  classes['>'] |= kNameStop | kAttributeStop | kValueStop;
  classes['='] |= kAttributeStop;
  classes['"'] |= kValueStop;
  classes['\''] |= kValueStop;
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

inline uint8_t ClassOf(char c) { return kByteClasses[static_cast<uint8_t>(c)]; }

// The first characters of names (XML 1.0, fifth edition), sorted.
struct SRange {
  uint32_t first;
  uint32_t last;
};
constexpr SRange kNameStartRanges[] = {
    {':', ':'},         {'A', 'Z'},         {'_', '_'},         {'a', 'z'},
    {0xC0, 0xD6},       {0xD8, 0xF6},       {0xF8, 0x2FF},      {0x370, 0x37D},
    {0x37F, 0x1FFF},    {0x200C, 0x200D},   {0x2070, 0x218F},   {0x2C00, 0x2FEF},
    {0x3001, 0xD7FF},   {0xF900, 0xFDCF},   {0xFDF0, 0xFFFD},   {0x10000, 0xEFFFF},
};
static_assert(sizeof(kNameStartRanges) / sizeof(SRange) == 16);

// A code point no character decodes to: malformed bytes match no pattern and start no name.
constexpr uint32_t kMalformed = 0xFFFFFFFF;
constexpr uint32_t kMaximumCodePoint = 0x10FFFF;
constexpr uint32_t kSmallestOfWidth[5] = {0, 0, 0x80, 0x800, 0x10000};

constexpr size_t kMaximumReferenceName = 15;  // bytes between "&" and ";"
constexpr char kCDataOpening[] = "[CDATA[";
constexpr size_t kCDataOpeningLength = sizeof(kCDataOpening) - 1;
constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

uint8_t* EncodeUtf8(uint32_t cp, uint8_t* out) {
  if (cp < 0x80) {
    *out++ = static_cast<uint8_t>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<uint8_t>(0xC0 | (cp >> 6));
    *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<uint8_t>(0xE0 | (cp >> 12));
    *out++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<uint8_t>(0xF0 | (cp >> 18));
    *out++ = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  }
  return out;
}

uint32_t DigitValue(char c, bool hexadecimal) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  const char lower = static_cast<char>(c | 0x20);
  if (hexadecimal && lower >= 'a' && lower <= 'f') return static_cast<uint32_t>(lower - 'a' + 10);
  return 16;
}

// The code point of "#65" or "#x41"; kMalformed for anything else, for 0, surrogates and values
// beyond Unicode (those stay as written).
uint32_t NumericReference(const char* name, size_t length) {
  const bool hexadecimal = length >= 2 && name[1] == 'x';
  const size_t first = hexadecimal ? 2 : 1;
  if (length <= first) return kMalformed;
  uint32_t value = 0;
  for (size_t i = first; i < length; ++i) {
    const uint32_t digit = DigitValue(name[i], hexadecimal);
    if (digit >= (hexadecimal ? 16u : 10u)) return kMalformed;
    value = value * (hexadecimal ? 16 : 10) + digit;
    if (value > kMaximumCodePoint) return kMalformed;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return kMalformed;
  return value;
}

// Decodes the reference name between "&" and ";" into out; 0 when it is not one.
size_t DecodeReference(const char* name, size_t length, char* out) {
  struct SEntity {
    const char* name;
    char character;
  };
  static constexpr SEntity kEntities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
  if (length != 0 && name[0] == '#') {
    const uint32_t cp = NumericReference(name, length);
    if (cp == kMalformed) return 0;
    return static_cast<size_t>(EncodeUtf8(cp, reinterpret_cast<uint8_t*>(out)) - reinterpret_cast<uint8_t*>(out));
  }
  for (const SEntity& entity : kEntities) {
    if (std::strlen(entity.name) == length && std::memcmp(entity.name, name, length) == 0) {
      out[0] = entity.character;
      return 1;
    }
  }
  return 0;
}

}  // namespace

CXmlReader::CXmlReader(IXmlHandler& handler, bool observeMarkup)
    : m_handler(handler), m_observeMarkup(observeMarkup) {}

void CXmlReader::Reset() {
  m_state = EState::kText;
  m_atDocumentStart = true;
  m_textReported = false;
  m_piecesPending = false;
  m_stopOffset = 0;
}

bool CXmlReader::IsNameStart(uint32_t codePoint) {
  size_t low = 0;
  size_t high = sizeof(kNameStartRanges) / sizeof(SRange);
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (codePoint > kNameStartRanges[middle].last) {
      low = middle + 1;
    } else if (codePoint < kNameStartRanges[middle].first) {
      high = middle;
    } else {
      return true;
    }
  }
  return false;
}

char* CXmlReader::TrimBlanks(char* text, size_t& length) {
  size_t begin = 0;
  size_t end = length;
  while (begin < end && (ClassOf(text[begin]) & kBlank) != 0) ++begin;
  while (end > begin && (ClassOf(text[end - 1]) & kBlank) != 0) --end;
  length = end - begin;
  return text + begin;
}

char* CXmlReader::DecodeText(char* text, size_t& length) {
  text = TrimBlanks(text, length);
  if (length != 0 && std::memchr(text, '&', length) != nullptr) {
    length = ResolveReferences(text, length);
  }
  return text;
}

size_t CXmlReader::ResolveReferences(char* text, size_t length) {
  char* out = text;
  const char* in = text;
  const char* const end = text + length;
  while (in < end) {
    const auto* amp = static_cast<const char*>(std::memchr(in, '&', static_cast<size_t>(end - in)));
    const char* stop = amp != nullptr ? amp : end;
    std::memmove(out, in, static_cast<size_t>(stop - in));
    out += stop - in;
    in = stop;
    if (amp == nullptr) break;
    const size_t window = std::min<size_t>(static_cast<size_t>(end - amp - 1), kMaximumReferenceName + 1);
    const auto* semicolon = static_cast<const char*>(std::memchr(amp + 1, ';', window));
    if (semicolon == nullptr) {
      *out++ = *in++;
      continue;
    }
    char decoded[4];
    const size_t count = DecodeReference(amp + 1, static_cast<size_t>(semicolon - amp - 1), decoded);
    if (count != 0) {
      std::memcpy(out, decoded, count);
      out += count;
    } else {
      std::memmove(out, amp, static_cast<size_t>(semicolon + 1 - amp));
      out += semicolon + 1 - amp;
    }
    in = semicolon + 1;
  }
  return static_cast<size_t>(out - text);
}

// ---- Chunks ----------------------------------------------------------------------------------

size_t CXmlReader::Parse(char* chunk, size_t length) {
  if (m_state == EState::kStop || length == 0) return 0;
  m_chunk = chunk;
  m_length = length;
  size_t pos = 0;
  if (m_atDocumentStart) {
    const size_t compared = length < sizeof(kByteOrderMark) ? length : sizeof(kByteOrderMark);
    if (std::memcmp(chunk, kByteOrderMark, compared) == 0) {
      if (length < sizeof(kByteOrderMark)) return 0;  // a mark cut short, or a document that starts like one
      pos = sizeof(kByteOrderMark);
    }
    m_atDocumentStart = false;
  }
  m_callStart = pos;
  m_token = pos;
  m_mark = pos;
  m_markState = m_state;
  m_markTextReported = m_textReported;
  while (Step(pos)) {
  }
  return ChunkEnd(pos);
}

void CXmlReader::Finish() {
  if (m_piecesPending && m_state == EState::kText) {
    char empty[1] = {0};
    m_handler.OnText(empty, 0, EXmlText::kTextLast);
  }
  m_piecesPending = false;
}

bool CXmlReader::Step(size_t& pos) {
  switch (m_state) {
    case EState::kText: return ScanText(pos);
    case EState::kBang: return ScanBang(pos);
    case EState::kInstruction: return ScanInstruction(pos);
    case EState::kComment: return ScanRunEnd(pos, '-');
    case EState::kCData: return ScanRunEnd(pos, ']');
    case EState::kName: return ScanName(pos);
    case EState::kEndName: return ScanEndName(pos);
    case EState::kAfterEndName: return ScanAfterEndName(pos);
    case EState::kAttributes: return ScanAttributes(pos);
    case EState::kAttributeName: return ScanAttributeName(pos);
    case EState::kBeforeValue: return ScanBeforeValue(pos);
    case EState::kValue: return ScanValue(pos);
    case EState::kEmptyEnd:
    case EState::kStop: return false;
  }
  return false;
}

// The chunk ended at pos (the start of a partly matched pattern or cut character, else the end).
// What was completed is consumed; a construct under way waits for more bytes, except text,
// CDATA and unobserved markup that began at the start of the chunk: they go in pieces.
size_t CXmlReader::ChunkEnd(size_t pos) {
  const bool nothingConsumed = m_mark == m_callStart;
  switch (m_state) {
    case EState::kStop: return m_mark;
    case EState::kText:
      if (nothingConsumed) DeliverTextPiece(pos);
      break;
    case EState::kCData:
      if (nothingConsumed) DeliverCDataPiece(pos);
      break;
    case EState::kInstruction:
      if (nothingConsumed && !m_observeMarkup && pos > m_mark) Mark(pos, m_state);
      break;
    case EState::kComment:
      if (nothingConsumed && !m_observeMarkup && pos > m_mark) {
        m_runCarry = static_cast<uint8_t>(RunCountAt(pos, '-'));
        Mark(pos, m_state);
      }
      break;
    case EState::kAttributes:
    case EState::kAfterEndName: Mark(pos, m_state); break;
    default: break;
  }
  m_state = m_markState;
  m_textReported = m_markTextReported;
  return m_mark;
}

// Start of a UTF-8 sequence cut short by the end of the chunk, else end.
static size_t CutSequenceStart(const char* chunk, size_t begin, size_t end) {
  for (size_t back = 1; back <= 3 && back <= end - begin; ++back) {
    const auto byte = static_cast<uint8_t>(chunk[end - back]);
    if ((byte & 0xC0) == 0x80) continue;
    const size_t width = byte < 0xC2 || byte > 0xF4 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return back < width ? end - back : end;
  }
  return end;
}

size_t CXmlReader::DeliverTextPiece(size_t end) {
  if (end == m_length) end = CutSequenceStart(m_chunk, m_token, end);
  if (end <= m_token) return 0;
  ReportText(m_chunk + m_token, end - m_token, EXmlText::kTextPiece);
  m_piecesPending = true;
  Mark(end, EState::kText);
  return end;
}

size_t CXmlReader::DeliverCDataPiece(size_t end) {
  if (end == m_length) end = CutSequenceStart(m_chunk, m_token, end);
  size_t used = 0;
  if (end > m_token) {
    used = ReportText(m_chunk + m_token, end - m_token, EXmlText::kCDataPiece);
    if (used > end - m_token) used = end - m_token;
    m_piecesPending = true;
  }
  if (m_token + used > m_mark) {
    m_runCarry = static_cast<uint8_t>(RunCountAt(m_token + used, ']'));
    Mark(m_token + used, EState::kCData);
  }
  return used;
}

// ---- Marks and reports -------------------------------------------------------------------------

void CXmlReader::Enter(EState state, size_t token) {
  m_state = state;
  m_token = token;
  m_runCarry = 0;
}

void CXmlReader::Mark(size_t at, EState state) {
  m_mark = at;
  m_markState = state;
  m_markTextReported = false;
}

void CXmlReader::MarkAfterConstruct(size_t after) {
  Mark(after, EState::kText);
  Enter(EState::kText, after);
}

void CXmlReader::Stop(size_t at) {
  m_stopOffset = at;
  m_state = EState::kStop;
}

size_t CXmlReader::ReportText(char* text, size_t length, EXmlText kind) {
  if (kind == EXmlText::kNone) return m_handler.OnText(nullptr, 0, kind);
  const char saved = text[length];
  text[length] = 0;
  const size_t used = m_handler.OnText(text, length, kind);
  text[length] = saved;
  return used;
}

void CXmlReader::ReportElement(bool start, size_t begin, size_t end) {
  const char saved = m_chunk[end];
  m_chunk[end] = 0;
  if (start) {
    m_handler.OnElementStart(m_chunk + begin, end - begin);
  } else {
    m_handler.OnElementEnd(m_chunk + begin, end - begin);
  }
  m_chunk[end] = saved;
}

void CXmlReader::ReportMarkup(EXmlMarkup kind, size_t begin, size_t end) {
  if (!m_observeMarkup) return;
  const char saved = m_chunk[end];
  m_chunk[end] = 0;
  m_handler.OnMarkup(kind, m_chunk + begin, end - begin);
  m_chunk[end] = saved;
}

// Character data ends at the "<" at `at`: whole text is trimmed and resolved, the last of a run
// of pieces goes raw, and text already reported before the chunk ended is not reported again.
void CXmlReader::LeaveText(size_t at) {
  if (m_textReported) {
    m_textReported = false;
  } else if (m_piecesPending) {
    m_piecesPending = false;
    ReportText(m_chunk + m_token, at - m_token, EXmlText::kTextLast);
  } else {
    size_t length = at - m_token;
    char* text = DecodeText(m_chunk + m_token, length);
    ReportText(text, length, length != 0 ? EXmlText::kText : EXmlText::kNone);
  }
  Mark(at, EState::kText);
  m_markTextReported = true;
}

// "<a/>" and "<a b='c'/>": no more character data, then the end without a name.
void CXmlReader::EmptyElementEnd(size_t after) {
  m_handler.OnText(nullptr, 0, EXmlText::kNone);
  m_handler.OnElementEnd(nullptr, 0);
  MarkAfterConstruct(after);
}

// ---- States ------------------------------------------------------------------------------------

// Decodes the character at pos: its width, or 0 when the chunk ends inside it. A malformed or
// overlong sequence is one byte that decodes to kMalformed.
static size_t DecodeAt(const char* chunk, size_t length, size_t pos, uint32_t& cp) {
  const auto lead = static_cast<uint8_t>(chunk[pos]);
  cp = kMalformed;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  if (lead < 0xC2 || lead > 0xF4) return 1;
  const size_t width = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  uint32_t value = lead & (0x7Fu >> width);
  for (size_t i = 1; i < width; ++i) {
    if (pos + i >= length) return 0;
    const auto next = static_cast<uint8_t>(chunk[pos + i]);
    if ((next & 0xC0) != 0x80) return 1;
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value >= kSmallestOfWidth[width] && value <= kMaximumCodePoint) cp = value;
  return width;
}

// State 0: "<?", "<!", "<" and a name-start character, "</". Any other "<" is text.
bool CXmlReader::ScanText(size_t& pos) {
  const char* chunk = m_chunk;
  size_t at = pos;
  for (;;) {
    const void* found = std::memchr(chunk + at, '<', m_length - at);
    if (found == nullptr) {
      pos = m_length;
      return false;
    }
    at = static_cast<size_t>(static_cast<const char*>(found) - chunk);
    if (at + 1 == m_length) break;
    const char next = chunk[at + 1];
    EState target = EState::kName;
    size_t token = at + 2;
    if (next == '?') {
      target = EState::kInstruction;
    } else if (next == '!') {
      target = EState::kBang;
    } else if (next == '/') {
      target = EState::kEndName;
    } else if ((ClassOf(next) & kAsciiNameStart) != 0) {
      token = at + 1;
    } else if (static_cast<uint8_t>(next) >= 0x80) {
      uint32_t cp;
      if (DecodeAt(chunk, m_length, at + 1, cp) == 0) break;
      if (!IsNameStart(cp)) {
        ++at;
        continue;
      }
      token = at + 1;
    } else {
      ++at;
      continue;
    }
    LeaveText(at);
    Enter(target, token);
    pos = token;
    return true;
  }
  pos = at;  // "<" whose next character has not arrived
  return false;
}

// State 1, after "<!": "--" opens a comment, "[CDATA[" a CDATA section, ">" ends a declaration.
bool CXmlReader::ScanBang(size_t& pos) {
  size_t hyphens = 0;
  size_t opening = 0;
  for (size_t q = pos; q < m_length; ++q) {
    const char c = m_chunk[q];
    hyphens = c == '-' ? hyphens + 1 : 0;
    if (hyphens == 2) {
      Enter(EState::kComment, q + 1);
      pos = q + 1;
      return true;
    }
    opening = c == kCDataOpening[opening] ? opening + 1 : c == kCDataOpening[0] ? 1 : 0;
    if (opening == kCDataOpeningLength) {
      Enter(EState::kCData, q + 1);
      pos = q + 1;
      return true;
    }
    if (c == '>') {
      ReportMarkup(EXmlMarkup::kDeclaration, m_token, q);
      MarkAfterConstruct(q + 1);
      pos = q + 1;
      return true;
    }
  }
  pos = m_length;
  return false;
}

// State 2: "?>" ends the instruction.
bool CXmlReader::ScanInstruction(size_t& pos) {
  for (size_t q = pos;;) {
    const void* found = std::memchr(m_chunk + q, '>', m_length - q);
    if (found == nullptr) break;
    const size_t close = static_cast<size_t>(static_cast<const char*>(found) - m_chunk);
    if (close > m_token && m_chunk[close - 1] == '?') {
      ReportMarkup(EXmlMarkup::kProcessingInstruction, m_token, close - 1);
      MarkAfterConstruct(close + 1);
      pos = close + 1;
      return true;
    }
    q = close + 1;
  }
  pos = m_length > m_token && m_chunk[m_length - 1] == '?' ? m_length - 1 : m_length;
  return false;
}

// States 3 and 4: "-->" ends a comment, "]]>" a CDATA section. The matcher counts a run of
// hyphens (brackets) as 1, 2, 1, 2, ...: only an even run right before ">" completes it. A run
// that reaches back to a resumed token continues the count carried from the previous chunk.
size_t CXmlReader::RunCountAt(size_t end, char runCharacter) const {
  size_t run = 0;
  while (end - run > m_token && m_chunk[end - run - 1] == runCharacter) ++run;
  if (end - run == m_token) run += m_runCarry;
  return run == 0 ? 0 : run % 2 == 1 ? 1 : 2;
}

bool CXmlReader::ScanRunEnd(size_t& pos, char runCharacter) {
  for (size_t q = pos;;) {
    const void* found = std::memchr(m_chunk + q, '>', m_length - q);
    if (found == nullptr) break;
    const size_t close = static_cast<size_t>(static_cast<const char*>(found) - m_chunk);
    if (RunCountAt(close, runCharacter) == 2) {
      // The pattern's first characters may lie in the previous chunk (carried count).
      EndRunConstruct(close >= m_token + 2 ? close - 2 : m_token, close + 1);
      pos = close + 1;
      return true;
    }
    q = close + 1;
  }
  // Keep the partly matched ending for the next call, which counts it again from there.
  size_t keep = RunCountAt(m_length, runCharacter);
  if (keep > m_length - m_token) keep = m_length - m_token;
  pos = m_length - keep;
  return false;
}

// A comment or CDATA section whose content ends at `end`; its "-->" or "]]>" ends before `after`.
void CXmlReader::EndRunConstruct(size_t end, size_t after) {
  if (m_state == EState::kComment) {
    ReportMarkup(EXmlMarkup::kComment, m_token, end);
  } else if (m_piecesPending) {
    m_piecesPending = false;
    ReportText(m_chunk + m_token, end - m_token, EXmlText::kCDataLast);
  } else {
    size_t length = end - m_token;
    char* content = TrimBlanks(m_chunk + m_token, length);
    ReportText(content, length, length != 0 ? EXmlText::kCData : EXmlText::kNone);
  }
  MarkAfterConstruct(after);
}

// State 5: the element name ends at a blank (attributes follow), "/>" or ">".
bool CXmlReader::ScanName(size_t& pos) {
  size_t q = pos;
  while (q < m_length && (ClassOf(m_chunk[q]) & kNameStop) == 0) ++q;
  if (q == m_length) {
    pos = q;
    return false;
  }
  if (m_chunk[q] != '>') {
    ReportElement(true, m_token, q);
    Mark(q + 1, EState::kAttributes);
    Enter(EState::kAttributes, q + 1);
  } else if (m_chunk[q - 1] == '/') {  // never the name-start character itself
    ReportElement(true, m_token, q - 1);
    EmptyElementEnd(q + 1);
  } else {
    ReportElement(true, m_token, q);
    MarkAfterConstruct(q + 1);
  }
  pos = q + 1;
  return true;
}

// State 6: the end-tag name ends at a blank (state 7 waits for ">") or ">".
bool CXmlReader::ScanEndName(size_t& pos) {
  size_t q = pos;
  while (q < m_length && (ClassOf(m_chunk[q]) & kNameStop) == 0) ++q;
  if (q == m_length) {
    pos = q;
    return false;
  }
  ReportElement(false, m_token, q);
  if (m_chunk[q] == '>') {
    MarkAfterConstruct(q + 1);
  } else {
    Mark(q + 1, EState::kAfterEndName);
    Enter(EState::kAfterEndName, q + 1);
  }
  pos = q + 1;
  return true;
}

bool CXmlReader::ScanAfterEndName(size_t& pos) {
  const void* found = std::memchr(m_chunk + pos, '>', m_length - pos);
  if (found == nullptr) {
    pos = m_length;
    return false;
  }
  pos = static_cast<size_t>(static_cast<const char*>(found) - m_chunk) + 1;
  MarkAfterConstruct(pos);
  return true;
}

// State 8: a name-start character begins an attribute; "/>" and ">" end the start tag; anything
// else is skipped.
bool CXmlReader::ScanAttributes(size_t& pos) {
  size_t q = pos;
  while (q < m_length) {
    const char c = m_chunk[q];
    size_t width = 1;
    bool nameStart = (ClassOf(c) & kAsciiNameStart) != 0;
    if (static_cast<uint8_t>(c) >= 0x80) {
      uint32_t cp;
      width = DecodeAt(m_chunk, m_length, q, cp);
      if (width == 0) break;
      nameStart = IsNameStart(cp);
    }
    if (nameStart) {
      Enter(EState::kAttributeName, q);
      pos = q;
      return true;
    }
    if (c == '>') {
      MarkAfterConstruct(q + 1);
      pos = q + 1;
      return true;
    }
    if (c == '/') {
      if (q + 1 == m_length) break;
      if (m_chunk[q + 1] == '>') {
        EmptyElementEnd(q + 2);
        pos = q + 2;
        return true;
      }
    }
    q += width;
  }
  pos = q;
  return false;
}

// State 9: the attribute name ends at a blank or "="; ">" stops the reader.
bool CXmlReader::ScanAttributeName(size_t& pos) {
  size_t q = pos;
  while (q < m_length && (ClassOf(m_chunk[q]) & kAttributeStop) == 0) ++q;
  if (q == m_length) {
    pos = q;
    return false;
  }
  if (m_chunk[q] == '>') {
    Stop(q);
    return false;
  }
  m_nameBegin = m_token;
  m_nameEnd = q;
  Enter(EState::kBeforeValue, q + 1);
  pos = q + 1;
  return true;
}

// State 10: either quote opens the value; ">" stops the reader.
bool CXmlReader::ScanBeforeValue(size_t& pos) {
  size_t q = pos;
  while (q < m_length && (ClassOf(m_chunk[q]) & kValueStop) == 0) ++q;
  if (q == m_length) {
    pos = q;
    return false;
  }
  if (m_chunk[q] == '>') {
    Stop(q);
    return false;
  }
  Enter(EState::kValue, q + 1);
  pos = q + 1;
  return true;
}

// State 11: either quote closes the value (whichever opened it); ">" stops the reader.
bool CXmlReader::ScanValue(size_t& pos) {
  size_t q = pos;
  while (q < m_length && (ClassOf(m_chunk[q]) & kValueStop) == 0) ++q;
  if (q == m_length) {
    pos = q;
    return false;
  }
  // Leaving the value reports it, also when a ">" stops the reader there.
  size_t length = q - m_token;
  char* value = DecodeText(m_chunk + m_token, length);
  const char savedName = m_chunk[m_nameEnd];
  const char savedValue = value[length];
  m_chunk[m_nameEnd] = 0;
  value[length] = 0;
  m_handler.OnAttribute(m_chunk + m_nameBegin, m_nameEnd - m_nameBegin, value, length);
  value[length] = savedValue;
  m_chunk[m_nameEnd] = savedName;
  if (m_chunk[q] == '>') {
    Stop(q);
    return false;
  }
  Mark(q + 1, EState::kAttributes);
  Enter(EState::kAttributes, q + 1);
  pos = q + 1;
  return true;
}

}  // namespace Quorin
