// Comparison, search, cutting, replacing and edit distance, code point by code point.
#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"
#include "foundation/string/String.h"
#include "foundation/string/Utf.h"

namespace Bravik {

using namespace Utf;

namespace {

struct BlockGuard {
  const void* keep;  // a block equal to this is not ours to free
  const void* block;
  ~BlockGuard() {
    if (block != keep) Memory::Free(const_cast<void*>(block));
  }
};

// The text position after `pattern` when it matches at `text`, else null.
const uint8_t* MatchAt(Cursor text, Cursor pattern) {
  for (;;) {
    uint32_t patternWidth;
    uint32_t textWidth;
    const uint32_t wanted = pattern.Peek(patternWidth);
    if (patternWidth == 0) return text.at;
    const uint32_t found = text.Peek(textWidth);
    if (textWidth == 0 || found != wanted) return nullptr;
    text.at += textWidth;
    pattern.at += patternWidth;
  }
}

// Moves `text` (at character `index`) to the next match and returns the position after it;
// null when the text ends first. Candidates advance one character at a time, so overlapping
// starts such as "ab" in "aab" are found.
const uint8_t* SeekMatch(Cursor& text, uint64_t& index, const Cursor& pattern) {
  for (;;) {
    if (const uint8_t* end = MatchAt(text, pattern)) return end;
    uint32_t width;
    text.Peek(width);
    if (width == 0) return nullptr;
    text.at += width;
    ++index;
  }
}

// Places `cursor` at character `start` of `text`; false when nothing can match there.
bool StartSearch(const IString& text, const IString& pattern, uint64_t start, Cursor& cursor) {
  if (text.IsNull() || pattern.IsEmpty()) return false;
  return cursor.Skip(start) == start;
}

}  // namespace

bool Equals(const IString& a, const IString& b) {
  const bool aEmpty = a.IsEmpty();
  const bool bEmpty = b.IsEmpty();
  if (aEmpty || bEmpty) return aEmpty && bEmpty;
  if (UnitSize(a.GetEncoding()) == UnitSize(b.GetEncoding())) {
    const uint64_t size = a.GetSize();
    return size == b.GetSize() && std::memcmp(a.GetData(), b.GetData(), size) == 0;
  }
  Cursor left(a);
  Cursor right(b);
  for (;;) {
    uint32_t leftWidth;
    uint32_t rightWidth;
    if (left.Peek(leftWidth) != right.Peek(rightWidth)) return false;
    if (leftWidth == 0 || rightWidth == 0) return leftWidth == rightWidth;
    left.at += leftWidth;
    right.at += rightWidth;
  }
}

bool NotEquals(const IString& a, const IString& b) { return !Equals(a, b); }

bool StartsWith(const IString& a, const IString& b) {
  if (a.IsEmpty() || b.IsEmpty()) return false;
  return MatchAt(Cursor(a), Cursor(b)) != nullptr;
}

bool EndsWith(const IString& a, const IString& b) {
  const uint64_t suffixLength = b.GetLength();
  const uint64_t length = a.GetLength();
  if (suffixLength == 0 || suffixLength > length) return false;
  Cursor tail(a);
  tail.Skip(length - suffixLength);
  return MatchAt(tail, Cursor(b)) != nullptr;
}

uint64_t Find(const IString& text, const IString& pattern, uint64_t start) {
  Cursor cursor(text);
  if (!StartSearch(text, pattern, start, cursor)) return kNotFound;
  uint64_t index = start;
  return SeekMatch(cursor, index, Cursor(pattern)) ? index : kNotFound;
}

uint64_t FindLast(const IString& text, const IString& pattern, uint64_t start) {
  Cursor cursor(text);
  if (!StartSearch(text, pattern, start, cursor)) return kNotFound;
  const Cursor wanted(pattern);
  uint64_t index = start;
  uint64_t last = kNotFound;
  while (SeekMatch(cursor, index, wanted)) {
    last = index;
    // Continue at the next character: the last occurrence may overlap the one just found.
    cursor.Skip(1);
    ++index;
  }
  return last;
}

uint64_t Distance(const IString& a, const IString& b) {
  const uint64_t lengthA = a.GetLength();
  const uint64_t lengthB = b.GetLength();
  if (lengthA == 0 || lengthB == 0) return lengthA + lengthB;
  const bool aShorter = lengthA < lengthB;
  const uint64_t columns = aShorter ? lengthA : lengthB;
  // One block: the row of counters, then the shorter text's code points.
  void* block = Memory::Allocate((columns + 1) * 8 + columns * 4, Memory::kObjectPool);
  BlockGuard guard{nullptr, block};
  uint64_t* row = static_cast<uint64_t*>(block);
  uint32_t* shorter = reinterpret_cast<uint32_t*>(row + columns + 1);
  Cursor walk(aShorter ? a : b);
  for (uint64_t j = 0; j < columns; ++j) {
    uint32_t width;
    shorter[j] = walk.Peek(width);
    walk.at += width;
  }
  for (uint64_t j = 0; j <= columns; ++j) row[j] = j;
  Cursor longer(aShorter ? b : a);
  uint64_t i = 0;
  for (;;) {
    uint32_t width;
    const uint32_t cp = longer.Peek(width);
    if (width == 0) break;
    longer.at += width;
    uint64_t diagonal = row[0];
    row[0] = ++i;
    for (uint64_t j = 1; j <= columns; ++j) {
      const uint64_t above = row[j];
      uint64_t best = diagonal + (cp == shorter[j - 1] ? 0 : 1);
      if (above + 1 < best) best = above + 1;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      row[j] = best;
      diagonal = above;
    }
  }
  return row[columns];
}

CMutableString Substring(const IString& text, uint64_t start, uint64_t end) {
  CMutableString result;
  const StringEncoding encoding = text.GetEncoding();
  result.Adopt(nullptr, encoding, 0, 0);
  if (text.IsNull()) return result;
  Cursor cursor(text);
  cursor.Skip(start);
  const uint8_t* from = cursor.at;
  const uint64_t length = end > start ? cursor.Skip(end - start) : 0;
  const uint64_t bytes = static_cast<uint64_t>(cursor.at - from);
  const uint32_t terminator = UnitSize(encoding);
  auto* block = static_cast<uint8_t*>(Memory::Allocate(bytes + terminator, Memory::kObjectPool));
  std::memcpy(block, from, bytes);
  std::memset(block + bytes, 0, terminator);
  result.Adopt(block, encoding, length, bytes + terminator);
  return result;
}

CMutableString Replace(const IString& text, const IString& pattern, const IString& replacement,
                       uint64_t start) {
  Cursor cursor(text);
  if (!StartSearch(text, pattern, start, cursor)) return CMutableString(text);
  const Cursor wanted(pattern);
  // Counting pass: non-overlapping occurrences, left to right.
  uint64_t count = 0;
  uint64_t removed = 0;
  uint64_t index = start;
  Cursor scan = cursor;
  while (const uint8_t* end = SeekMatch(scan, index, wanted)) {
    ++count;
    removed += static_cast<uint64_t>(end - scan.at);
    scan.at = end;
  }
  if (count == 0) return CMutableString(text);

  const StringEncoding encoding = text.GetEncoding();
  uint64_t insertBytes = 0;
  const void* insert = ConvertToNew(encoding, replacement, insertBytes);
  const BlockGuard insertGuard{replacement.GetData(), insert};
  const auto* data = static_cast<const uint8_t*>(text.GetData());
  const uint64_t size = text.GetSize() + count * insertBytes - removed;
  auto* block = static_cast<uint8_t*>(Memory::Allocate(size, Memory::kObjectPool));
  uint8_t* out = block;
  const uint8_t* copied = data;
  while (const uint8_t* end = SeekMatch(cursor, index, wanted)) {
    std::memcpy(out, copied, static_cast<size_t>(cursor.at - copied));
    out += cursor.at - copied;
    if (insertBytes != 0) std::memcpy(out, insert, insertBytes);
    out += insertBytes;
    copied = cursor.at = end;
  }
  // The tail, terminator included.
  std::memcpy(out, copied, static_cast<size_t>(block + size - out));
  CMutableString result;
  result.Adopt(block, encoding);
  return result;
}

}  // namespace Bravik
