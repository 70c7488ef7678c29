// Parsed trees of stored script texts, kept by text id so that a story step evaluates its
// conditions and runs its outcomes without parsing (and allocating) again. An entry remembers
// the size and hash of the text it was parsed from and is parsed anew when the text changed,
// so no invalidation is needed when texts are dropped or replaced.
#pragma once

#include <cstdint>

#include "foundation/container/MapTree.h"
#include "foundation/string/String.h"

namespace Quorin::Sprig {

class INode;

class CParsedScripts {
 public:
  CParsedScripts() = default;
  ~CParsedScripts() { Clear(); }
  CParsedScripts(const CParsedScripts&) = delete;
  CParsedScripts& operator=(const CParsedScripts&) = delete;

  // The lenient parse of `text` stored under `textId`: null for an empty expression. Raises
  // std::bad_alloc; the cache is unchanged then.
  const INode* Get(uint32_t textId, const Bravik::IString& text);
  void Clear();
  uint64_t GetCount() const { return m_entries.count; }

 private:
  struct Entry;
  Bravik::TMapTree<uint32_t> m_entries;
};

// For owners that only hold a pointer (the repository index).
CParsedScripts* CreateParsedScripts();
void DestroyParsedScripts(CParsedScripts* scripts);

}  // namespace Quorin::Sprig
