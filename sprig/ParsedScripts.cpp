#include "sprig/ParsedScripts.h"

#include "foundation/memory/Memory.h"
#include "sprig/Node.h"
#include "sprig/Parser.h"

namespace Quorin::Sprig {

namespace Memory = Bravik::Memory;

struct CParsedScripts::Entry : Bravik::TMapElement<uint32_t> {
  uint64_t size = 0;
  uint32_t hash = 0;
  INode* tree = nullptr;
};

const INode* CParsedScripts::Get(uint32_t textId, const Bravik::IString& text) {
  const uint64_t size = text.GetSize();
  const uint32_t hash = Bravik::CalculateHash(text);
  auto* entry = static_cast<Entry*>(m_entries.Find(textId));
  if (entry != nullptr && entry->size == size && entry->hash == hash) return entry->tree;
  CNodeHolder tree = Parse(text, true);
  if (entry == nullptr) {
    entry = Memory::New<Entry>(Memory::kPool8);
    m_entries.Insert(entry, textId);
  } else {
    DestroyTree(entry->tree);
  }
  entry->size = size;
  entry->hash = hash;
  entry->tree = tree.Take();
  return entry->tree;
}

void CParsedScripts::Clear() {
  while (auto* entry = static_cast<Entry*>(m_entries.root)) {
    m_entries.Erase(entry);
    DestroyTree(entry->tree);
    Memory::Delete(entry);
  }
}

CParsedScripts* CreateParsedScripts() { return Memory::New<CParsedScripts>(Memory::kPool8); }

void DestroyParsedScripts(CParsedScripts* scripts) { Memory::Delete(scripts); }

}  // namespace Quorin::Sprig
