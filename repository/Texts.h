// Texts and blobs: the strings and binary payloads that object members name by id. Text bytes are
// packed into the byte pool of the region current at creation; blob bytes are one block each.
// Both can be created unfilled and written piece by piece (the import does so).
#pragma once

#include <cstdint>

#include "foundation/string/String.h"
#include "repository/Items.h"
#include "repository/Repository.h"

namespace Quorin {

namespace Sprig {
class INode;
}

// Kinds of TlxScriptReference, ORDER SCRIPT_KIND.
enum class EScriptKind : uint8_t { kNotSet, kTalvexSprig, kCustomScript };

class CText_Internal final : public IText, public TRepositoryItem<uint32_t> {
 public:
  // bytes hold capacity bytes (terminated at written); both sizes count the terminator of a
  // text created whole.
  CText_Internal(void* bytes, Bravik::StringEncoding encoding, uint32_t capacity, uint32_t written,
                 uint16_t region);

  uint32_t GetId() const override { return key; }
  void EraseFromIndex(RepositoryIndex& index);

  const void* GetBytes() const { return text.GetData(); }
  Bravik::StringEncoding GetEncoding() const { return text.GetEncoding(); }
  uint32_t GetCapacity() const { return m_capacity; }
  uint32_t GetWritten() const { return m_written; }
  bool IsFilled() const { return m_written >= m_capacity; }

  // Copies count bytes at the write position and terminates them; the terminator must fit in the
  // capacity as well. count, or 0 (nothing written) when it does not fit. A text within one
  // terminator of its capacity counts as filled.
  uint32_t AppendBytes(const void* bytes, uint32_t count);
  // Nothing more can be appended; gives the bytes written.
  uint32_t Close();

  Bravik::CString text;  // a view over the bytes in the region's byte pool
  // The text as a script, parsed on its first run (null for an empty expression) and kept with
  // the text: the script binding disposes of it when the text's region goes.
  Sprig::INode* script = nullptr;
  bool scriptParsed = false;

 private:
  uint32_t m_capacity;
  uint32_t m_written;
};

class CBlob_Internal final : public IBlob, public TRepositoryItem<uint32_t> {
 public:
  // Takes ownership of bytes (a library-allocator block of size bytes, or null for size 0).
  CBlob_Internal(uint8_t* bytes, uint32_t byteCount, uint16_t region);
  ~CBlob_Internal();
  CBlob_Internal(const CBlob_Internal&) = delete;
  CBlob_Internal& operator=(const CBlob_Internal&) = delete;

  uint32_t GetId() const override { return key; }
  void EraseFromIndex(RepositoryIndex& index);

  uint32_t GetRemaining() const { return size - m_written; }
  // Copies count bytes at the write position: count, or 0 (nothing written) when they do not fit.
  uint32_t WriteBytes(const void* bytes, uint32_t count);

 private:
  uint32_t m_written = 0;
};

// ---- Texts --------------------------------------------------------------------------------------
CText_Internal* FindText(const Repository& repository, uint32_t id);
// A text with this id that can still be appended to, for the import.
CText_Internal* FindUnfilledText(const Repository& repository, uint32_t id);
// A copy of a zero-terminated string in its encoding, in the current region; null text keeps a
// null pointer. The id is not tested for repeats.
CText_Internal* CreateText(Repository& repository, uint32_t id, const void* text, Bravik::StringEncoding encoding);
// A copy of size bytes whose last code unit is the terminator (size 0: a null text).
CText_Internal* CreateTextOfSize(Repository& repository, uint32_t id, const void* bytes, uint32_t size,
                                 Bravik::StringEncoding encoding);
// An empty, terminated text with room for capacity bytes (terminator included), to be filled with
// AppendBytes.
CText_Internal* CreateTextWithCapacity(Repository& repository, uint32_t id, uint32_t capacity,
                                       Bravik::StringEncoding encoding);
// The bytes of a text; null when absent.
const void* GetTextBytes(const Repository& repository, uint32_t id);
// As GetTextBytes, but 0xFFFFFFFF never names a text.
const void* ResolveTextReference(const Repository& repository, uint32_t id);
// The source text of a script reference; null for kind NotSet or an absent text.
const void* ResolveScriptReference(const Repository& repository, const TlxScriptReference& reference);
inline const void* ResolveScriptReference(const Repository& repository, const TlxScriptReference* reference) {
  return reference != nullptr ? ResolveScriptReference(repository, *reference) : nullptr;
}
// The encoding of a text; 0 when absent.
inline uint32_t GetTextEncoding(const Repository& repository, uint32_t id) {
  const CText_Internal* text = FindText(repository, id);
  return text != nullptr ? text->GetEncoding() : 0u;
}

// ---- Blobs --------------------------------------------------------------------------------------
CBlob_Internal* FindBlob(const Repository& repository, uint32_t id);
// A blob with this id that can still be written to, for the import.
CBlob_Internal* FindUnfilledBlob(const Repository& repository, uint32_t id);
// A blob of size bytes in the current region, filled from bytes when given (else unfilled, its
// contents undefined); null, and nothing created, when a blob with this id exists.
CBlob_Internal* CreateBlob(Repository& repository, uint32_t id, const void* bytes, uint32_t size);
// The blob a reference of kind Blob names; null for other kinds.
CBlob_Internal* ResolveBlobReference(const Repository& repository, const TlxReference& reference);
inline CBlob_Internal* ResolveBlobReference(const Repository& repository, const TlxReference* reference) {
  return reference != nullptr ? ResolveBlobReference(repository, *reference) : nullptr;
}

// ---- Walks --------------------------------------------------------------------------------------
template <typename F>
void WalkTexts(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::texts, visit);
}

template <typename F>
void WalkBlobs(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::blobs, visit);
}

}  // namespace Quorin
