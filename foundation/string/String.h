// Strings in three encodings (UTF-8, UTF-16, UTF-32, platform byte order) and the code-point
// algorithms on them. A string is a zero-terminated run of code units; the encoding travels with
// the pointer. "Length" counts characters before the terminator, "size" counts bytes including it.
// A null pointer is the empty string for every read operation.
//
// Walking rule shared by every operation: a character's width comes from its lead unit (UTF-8:
// the high nibble of the lead byte; UTF-16: 2 units for a surrogate), but a step never crosses a
// zero unit. A sequence cut short by the terminator is one character with code point 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Bravik {

using StringEncoding = uint32_t;
constexpr StringEncoding kUtf8 = 0;
constexpr StringEncoding kUtf16 = 1;
constexpr StringEncoding kUtf32 = 2;  // also every code other than 0 and 1

// Character index returned by the searches when there is no match.
constexpr uint64_t kNotFound = ~0ull;

// Bytes of one code unit (and of the terminator) in an encoding: 1, 2 or 4.
constexpr uint32_t UnitSize(StringEncoding encoding) {
  return encoding == kUtf8 ? 1u : encoding == kUtf16 ? 2u : 4u;
}

class CStringPieceList;

// The root of the family: a pointer to the first code unit and the encoding.
class IString {
 public:
  virtual ~IString() = default;
  // Characters before the terminator; 0 for a null pointer.
  virtual uint64_t GetLength() const;
  // Bytes including the terminator; 0 for a null pointer, 1/2/4 for an empty non-null string.
  virtual uint64_t GetSize() const;

  const void* GetData() const { return m_data; }
  StringEncoding GetEncoding() const { return m_encoding; }
  bool IsNull() const { return m_data == nullptr; }
  // True for a null pointer or a text that starts with its terminator.
  bool IsEmpty() const;

  // Bytes (terminator included) the text takes once converted to `encoding`; 0 for null.
  uint64_t GetSizeIn(StringEncoding encoding) const;
  // Byte offset of character `index`; stops at the terminator if the text is shorter.
  uint64_t GetByteOffset(uint64_t index) const;
  // Code point of character `index`; 0 past the end or for null.
  uint32_t CharAt(uint64_t index) const;

 protected:
  IString() = default;
  IString(const void* data, StringEncoding encoding) : m_data(data), m_encoding(encoding) {}
  IString(const IString&) = default;
  IString& operator=(const IString&) = default;

  const void* m_data = nullptr;
  StringEncoding m_encoding = kUtf8;
};

// A view over memory the caller owns; never allocates or frees.
class CString : public IString {
 public:
  CString() = default;
  CString(const void* data, StringEncoding encoding) : IString(data, encoding) {}
  explicit CString(const char* utf8) : IString(utf8, kUtf8) {}
  explicit CString(const char16_t* utf16) : IString(utf16, kUtf16) {}
  explicit CString(const char32_t* utf32) : IString(utf32, kUtf32) {}
  // A view over another string's current buffer.
  explicit CString(const IString& other) : IString(other.GetData(), other.GetEncoding()) {}
  CString(const CString&) = default;
  CString& operator=(const CString&) = default;

  // Replaces pointer and encoding; nothing is copied.
  virtual void Set(const void* data, StringEncoding encoding);
};

// An owning string. Its buffer comes from the library allocator (object pool); length and size
// are cached. Every owning operation either completes or raises std::bad_alloc and leaves the
// string unchanged.
class CMutableString : public IString {
 public:
  CMutableString() = default;
  // Deep copy in the source's encoding.
  CMutableString(const CMutableString& other);
  explicit CMutableString(const IString& other);
  // Converted copy of UTF-8 text.
  CMutableString(const char* utf8, StringEncoding targetEncoding);
  CMutableString(CMutableString&& other) noexcept;
  CMutableString& operator=(const CMutableString& other);
  CMutableString& operator=(const IString& other);
  CMutableString& operator=(CMutableString&& other) noexcept;
  ~CMutableString() override;

  uint64_t GetLength() const override { return m_length; }
  uint64_t GetSize() const override { return m_size; }

  // Copies `data` (measured in `encoding`); null frees the buffer and keeps `encoding`.
  virtual void Set(const void* data, StringEncoding encoding);
  // Converted copy; null data clears the string and stores `targetEncoding`.
  void Assign(const void* data, StringEncoding sourceEncoding, StringEncoding targetEncoding);
  // Takes ownership of `buffer` (a library-allocator block, or null) and measures it; frees the
  // previous buffer. Never throws.
  void Adopt(void* buffer, StringEncoding encoding);
  // Takes ownership of a buffer whose length and size the caller already knows.
  void Adopt(void* buffer, StringEncoding encoding, uint64_t length, uint64_t size);
  // Gives up the buffer (caller frees it through the library allocator); the string becomes null.
  void* Release();
  // Joins the pieces (without their terminators) in the encoding of the first node, allocating
  // once, and empties the chain. An empty chain assigns the empty string (keeping this string's
  // encoding). On allocation failure the string and the chain are unchanged.
  void AssignPieces(CStringPieceList&& list);
  // Decimal text of a number, in `encoding`.
  void AssignNumber(int64_t value, StringEncoding encoding);
  void AssignNumber(uint64_t value, StringEncoding encoding);
  void AssignNumber(double value, StringEncoding encoding);
  // Frees the buffer; the string becomes null with the same encoding.
  void Clear();

 protected:
  uint64_t m_length = 0;
  uint64_t m_size = 0;

};

// Walks a string character by character, keeping the character index and byte offset together.
// A step never crosses the terminator: at the end, Next and Advance do nothing.
class CStringIterator {
 public:
  CStringIterator() = default;
  explicit CStringIterator(const IString& text) : m_text(text.GetData(), text.GetEncoding()) {}
  CStringIterator(const void* data, StringEncoding encoding) : m_text(data, encoding) {}

  // The ASCII characters of UTF-8 text, the common case of the tokenizer, decode inline.
  void Next() {
    const uint8_t* at = Here();
    if (at != nullptr && *at != 0 && *at < 0x80 && m_text.GetEncoding() == kUtf8) {
      ++m_offset;
      ++m_index;
    } else {
      NextDecoded();
    }
  }
  void Previous();
  void Advance(uint64_t count);
  // Code point of the current character; 0 at the terminator or for a null text.
  uint32_t Current() const {
    const uint8_t* at = Here();
    if (at != nullptr && *at < 0x80 && m_text.GetEncoding() == kUtf8) return *at;
    return CurrentDecoded();
  }
  // True at the terminator (or for a null text).
  bool AtEnd() const {
    const uint8_t* at = Here();
    if (at != nullptr && *at != 0 && m_text.GetEncoding() == kUtf8) return false;
    return AtEndDecoded();
  }

  uint64_t GetIndex() const { return m_index; }
  uint64_t GetByteOffset() const { return m_offset; }
  // Address of the current character (null for a null text).
  const void* GetPosition() const;

 private:
  const uint8_t* Here() const {
    const auto* data = static_cast<const uint8_t*>(m_text.GetData());
    return data == nullptr ? nullptr : data + m_offset;
  }
  void NextDecoded();
  uint32_t CurrentDecoded() const;
  bool AtEndDecoded() const;

  CString m_text;
  uint64_t m_index = 0;
  uint64_t m_offset = 0;
};

// One node of a piece chain: a view over text that must outlive the chain.
struct CStringPiece {
  CStringPiece* next;
  CString text;
};

// A chain of views to join into one string with CMutableString::AssignPieces. Owns its nodes
// (library allocator) and frees any left when destroyed. Move-only.
class CStringPieceList {
 public:
  CStringPieceList() = default;
  CStringPieceList(CStringPieceList&& other) noexcept;
  CStringPieceList& operator=(CStringPieceList&& other) noexcept;
  CStringPieceList(const CStringPieceList&) = delete;
  CStringPieceList& operator=(const CStringPieceList&) = delete;
  ~CStringPieceList();

  // Adds a node for `text` at the end (none for a null pointer). Raises std::bad_alloc and
  // leaves the chain unchanged on failure.
  void Add(const IString& text);
  const CStringPiece* GetFirst() const { return m_first; }
  bool IsEmpty() const { return m_first == nullptr; }

  // Frees every node; the chain becomes empty.
  void Clear();

 private:
  friend class CMutableString;

  CStringPiece* m_first = nullptr;
  CStringPiece* m_last = nullptr;
};

// A new chain holding `a` then `b` (null pointers contribute no node).
CStringPieceList Concat(const IString& a, const IString& b);
// Adds `text` at the end of `list` and returns it.
CStringPieceList& Append(CStringPieceList& list, const IString& text);
CStringPieceList&& Append(CStringPieceList&& list, const IString& text);

// Single code points. Decoders read from the lead unit at `offset`/`index` (in units) and never
// past a zero unit: a sequence cut short by the terminator and a stray UTF-8 continuation byte
// give 0; a two-unit UTF-16 pair that is not high then low surrogate gives U+FFFD. Encoders write the shortest standard form and return
// the position after the written units (UTF-8: 1-4 bytes; UTF-16: 1 unit, or a pair from 0x10000).
uint32_t DecodeUtf8(const void* bytes, uint64_t offset);
uint32_t DecodeUtf16(const void* units, uint64_t index);
uint8_t* EncodeUtf8(uint32_t codePoint, uint8_t* out);
char16_t* EncodeUtf16(uint32_t codePoint, char16_t* out);

// Writes `source` converted to `targetEncoding` into `destination`, which holds at least
// source.GetSizeIn(targetEncoding) bytes; terminator included. Nothing is written when the
// source pointer or the destination is null.
void Convert(const IString& source, StringEncoding targetEncoding, void* destination);
// The source text in `targetEncoding`: the source's own pointer when the encodings match,
// otherwise a new library-allocator block the caller frees (compare with source.GetData()).
// `outLength` receives the bytes without terminator. An empty text gives null and 0.
const void* ConvertToNew(StringEncoding targetEncoding, const IString& source,
                         uint64_t& outLength);
const void* ConvertToNew(const IString& target, const IString& source, uint64_t& outLength);

// Comparison and search, code point by code point; the operands may differ in encoding. Equals
// on two texts of one encoding compares code units (the same except for malformed text).
bool Equals(const IString& a, const IString& b);
bool NotEquals(const IString& a, const IString& b);
// False when `b` is empty.
bool StartsWith(const IString& a, const IString& b);
bool EndsWith(const IString& a, const IString& b);
// Character index of the first / last occurrence of `pattern` at or after character `start`;
// kNotFound when there is none, for an empty pattern, or a start past the end.
uint64_t Find(const IString& text, const IString& pattern, uint64_t start = 0);
uint64_t FindLast(const IString& text, const IString& pattern, uint64_t start = 0);
// Levenshtein distance in characters.
uint64_t Distance(const IString& a, const IString& b);

// Characters [start, end) of `text` in its encoding; both bounds are clamped to the length and an
// end before the start gives the empty text (null text gives a null result).
CMutableString Substring(const IString& text, uint64_t start, uint64_t end);
// `text` with every non-overlapping occurrence of `pattern` at or after character `start`
// replaced (left to right); a copy when there is none or the pattern is empty.
CMutableString Replace(const IString& text, const IString& pattern, const IString& replacement,
                       uint64_t start = 0);

// Number parsing: reads as far as the text fits and returns the value so far.
// ToUnsigned: decimal; before any non-zero value an `x` switches to hexadecimal and `-` is
// skipped. With `nibbleSwapped`, hexadecimal digit pairs are bytes placed from the low end up.
uint64_t ToUnsigned(const IString& text, bool nibbleSwapped = false);
// ToUnsigned negated when the first character is `-`.
int64_t ToInteger(const IString& text, bool nibbleSwapped = false);
// Integer part, then `.` or `,` and the fraction; no exponent.
double ToFloat(const IString& text);

// CRC-32 (reflected, polynomial 0xEDB88320, start 0xFFFFFFFF, no final inversion) over the
// GetSize() bytes of the text, terminator included; 0 for a null pointer.
uint32_t CalculateHash(const IString& text);
// Continues a CRC of the same kind over raw bytes (start with kHashSeed).
constexpr uint32_t kHashSeed = 0xFFFFFFFFu;
uint32_t UpdateHash(uint32_t crc, const void* bytes, uint64_t size);
// The same by lookup tables only: what processors without carry-less multiplication run.
uint32_t UpdateHashByTables(uint32_t crc, const void* bytes, uint64_t size);

}  // namespace Bravik
