// The string classes, the iterator and the piece chain.
#include "foundation/string/String.h"

#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"
#include "foundation/string/Utf.h"

namespace Bravik {

using namespace Utf;

namespace {

// Bytes before the terminator of a non-null text.
uint64_t TextBytes(const void* data, StringEncoding encoding) {
  return WithCodec(encoding, [&](auto codec) -> uint64_t {
    return CountBytes<decltype(codec)>(static_cast<const uint8_t*>(data));
  });
}

// Frees a library block unless ownership was handed on.
struct BlockGuard {
  void* block;
  ~BlockGuard() { Memory::Free(block); }
  void* Release() { return std::exchange(block, nullptr); }
};

}  // namespace

// ---- IString ----

uint64_t IString::GetLength() const { return MeasureLength(m_data, m_encoding); }

uint64_t IString::GetSize() const {
  if (m_data == nullptr) return 0;
  return TextBytes(m_data, m_encoding) + UnitSize(m_encoding);
}

bool IString::IsEmpty() const {
  if (m_data == nullptr) return true;
  uint32_t cp;
  return ReadChar(static_cast<const uint8_t*>(m_data), m_encoding, cp) == 0;
}

uint64_t IString::GetByteOffset(uint64_t index) const {
  CStringIterator it(*this);
  it.Advance(index);
  return it.GetByteOffset();
}

uint32_t IString::CharAt(uint64_t index) const {
  CStringIterator it(*this);
  it.Advance(index);
  return it.Current();
}

void CString::Set(const void* data, StringEncoding encoding) {
  m_data = data;
  m_encoding = encoding;
}

// ---- CMutableString ----

CMutableString::CMutableString(const CMutableString& other) : IString(nullptr, other.m_encoding) {
  Set(other.m_data, other.m_encoding);
}

CMutableString::CMutableString(const IString& other) : IString(nullptr, other.GetEncoding()) {
  Set(other.GetData(), other.GetEncoding());
}

CMutableString::CMutableString(const char* utf8, StringEncoding targetEncoding)
    : IString(nullptr, targetEncoding) {
  Assign(utf8, kUtf8, targetEncoding);
}

CMutableString::CMutableString(CMutableString&& other) noexcept
    : IString(std::exchange(other.m_data, nullptr), other.m_encoding),
      m_length(std::exchange(other.m_length, 0)),
      m_size(std::exchange(other.m_size, 0)) {}

CMutableString& CMutableString::operator=(const CMutableString& other) {
  if (this != &other) Set(other.m_data, other.m_encoding);
  return *this;
}

CMutableString& CMutableString::operator=(const IString& other) {
  Set(other.GetData(), other.GetEncoding());
  return *this;
}

CMutableString& CMutableString::operator=(CMutableString&& other) noexcept {
  if (this != &other) {
    Adopt(const_cast<void*>(other.m_data), other.m_encoding, other.m_length, other.m_size);
    other.m_data = nullptr;
    other.m_length = other.m_size = 0;
  }
  return *this;
}

CMutableString::~CMutableString() { Memory::Free(const_cast<void*>(m_data)); }

void CMutableString::Set(const void* data, StringEncoding encoding) {
  if (data == nullptr) {
    Adopt(nullptr, encoding, 0, 0);
    return;
  }
  // A view first: a source that is this very string stays readable until the copy is done.
  const CString source(data, encoding);
  const uint64_t size = source.GetSize();
  const uint64_t length =
      (data == m_data && encoding == m_encoding) ? m_length : source.GetLength();
  void* block = Memory::Allocate(size, Memory::kObjectPool);
  std::memcpy(block, data, size);
  Adopt(block, encoding, length, size);
}

void CMutableString::Assign(const void* data, StringEncoding sourceEncoding,
                            StringEncoding targetEncoding) {
  if (data == nullptr || UnitSize(sourceEncoding) == UnitSize(targetEncoding)) {
    Set(data, targetEncoding);
    return;
  }
  const CString source(data, sourceEncoding);
  void* block = Memory::Allocate(source.GetSizeIn(targetEncoding), Memory::kObjectPool);
  Convert(source, targetEncoding, block);
  // Measured again: a decoded zero (a stray byte) ends the converted text early.
  Adopt(block, targetEncoding);
}

void CMutableString::Adopt(void* buffer, StringEncoding encoding) {
  const CString view(buffer, encoding);
  Adopt(buffer, encoding, view.GetLength(), view.GetSize());
}

void CMutableString::Adopt(void* buffer, StringEncoding encoding, uint64_t length, uint64_t size) {
  void* old = const_cast<void*>(m_data);
  m_data = buffer;
  m_encoding = encoding;
  m_length = buffer == nullptr ? 0 : length;
  m_size = buffer == nullptr ? 0 : size;
  if (old != buffer) Memory::Free(old);
}

void* CMutableString::Release() {
  m_length = m_size = 0;
  return const_cast<void*>(std::exchange(m_data, nullptr));
}

void CMutableString::Clear() { Adopt(nullptr, m_encoding, 0, 0); }

void CMutableString::AssignPieces(CStringPieceList&& list) {
  const StringEncoding encoding = list.m_first ? list.m_first->text.GetEncoding() : m_encoding;
  const uint32_t terminator = UnitSize(encoding);
  uint64_t total = terminator;
  for (const CStringPiece* node = list.m_first; node != nullptr; node = node->next) {
    total += node->text.GetSizeIn(encoding) - terminator;
  }
  BlockGuard block{Memory::Allocate(total, Memory::kObjectPool)};
  uint8_t* out = static_cast<uint8_t*>(block.block);
  while (list.m_first != nullptr) {
    CStringPiece* node = list.m_first;
    // A piece in another encoding is converted; its terminator is overwritten by the next one.
    const uint64_t bytes = node->text.GetSizeIn(encoding) - terminator;
    Convert(node->text, encoding, out);
    out += bytes;
    list.m_first = node->next;
    Memory::Delete(node);
  }
  list.m_last = nullptr;
  std::memset(out, 0, terminator);
  Adopt(block.Release(), encoding);
}

// ---- CStringIterator ----

void CStringIterator::NextDecoded() {
  const auto* at = static_cast<const uint8_t*>(m_text.GetData());
  if (at == nullptr) return;
  uint32_t cp;
  const uint32_t width = ReadChar(at + m_offset, m_text.GetEncoding(), cp);
  if (width == 0) return;
  m_offset += width;
  ++m_index;
}

void CStringIterator::Previous() {
  const auto* at = static_cast<const uint8_t*>(m_text.GetData());
  if (at == nullptr || m_offset == 0) return;
  const StringEncoding encoding = m_text.GetEncoding();
  if (encoding == kUtf8) {
    do {
      --m_offset;
    } while (m_offset > 0 && (at[m_offset] & 0xC0) == 0x80);
  } else if (encoding == kUtf16) {
    m_offset -= (m_offset >= 4 && IsLowSurrogate(LoadUnit16(at + m_offset - 2))) ? 4 : 2;
  } else {
    m_offset -= 4;
  }
  if (m_index > 0) --m_index;
}

void CStringIterator::Advance(uint64_t count) {
  while (count-- > 0 && !AtEnd()) Next();
}

uint32_t CStringIterator::CurrentDecoded() const {
  const auto* at = static_cast<const uint8_t*>(m_text.GetData());
  if (at == nullptr) return 0;
  uint32_t cp;
  ReadChar(at + m_offset, m_text.GetEncoding(), cp);
  return cp;
}

bool CStringIterator::AtEndDecoded() const {
  const auto* at = static_cast<const uint8_t*>(m_text.GetData());
  if (at == nullptr) return true;
  uint32_t cp;
  return ReadChar(at + m_offset, m_text.GetEncoding(), cp) == 0;
}

const void* CStringIterator::GetPosition() const {
  const auto* at = static_cast<const uint8_t*>(m_text.GetData());
  return at == nullptr ? nullptr : at + m_offset;
}

// ---- CStringPieceList ----

CStringPieceList::CStringPieceList(CStringPieceList&& other) noexcept
    : m_first(std::exchange(other.m_first, nullptr)), m_last(std::exchange(other.m_last, nullptr)) {}

CStringPieceList& CStringPieceList::operator=(CStringPieceList&& other) noexcept {
  if (this != &other) {
    Clear();
    m_first = std::exchange(other.m_first, nullptr);
    m_last = std::exchange(other.m_last, nullptr);
  }
  return *this;
}

CStringPieceList::~CStringPieceList() { Clear(); }

void CStringPieceList::Add(const IString& text) {
  if (text.IsNull()) return;
  CStringPiece* node = Memory::New<CStringPiece>(Memory::kObjectPool, nullptr,
                                                 CString(text.GetData(), text.GetEncoding()));
  if (m_last != nullptr) {
    m_last->next = node;
  } else {
    m_first = node;
  }
  m_last = node;
}

void CStringPieceList::Clear() {
  while (m_first != nullptr) {
    Memory::Delete(std::exchange(m_first, m_first->next));
  }
  m_last = nullptr;
}

CStringPieceList Concat(const IString& a, const IString& b) {
  CStringPieceList list;
  list.Add(a);
  list.Add(b);
  return list;
}

CStringPieceList& Append(CStringPieceList& list, const IString& text) {
  list.Add(text);
  return list;
}

CStringPieceList&& Append(CStringPieceList&& list, const IString& text) {
  list.Add(text);
  return std::move(list);
}

}  // namespace Bravik
