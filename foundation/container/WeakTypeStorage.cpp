#include "foundation/container/WeakTypeStorage.h"

#include <atomic>

#include <new>

#include "foundation/memory/Memory.h"

namespace Bravik {

namespace {

// Entries carry 8-byte payloads and pointers: the value pool only aligns to 4 bytes.
constexpr uint32_t kEntryPool = Memory::kPool8;

static_assert(offsetof(SWeakTypeEntryValue, value) == 0);
static_assert(offsetof(CWeakTypeMap::SEntry, node) == 0);
static_assert(offsetof(CWeakTypeList::SEntry, next) == 0);

template <typename Entry>
Entry* EntryOf(const TlxSprigValue* value, size_t entryOffset) {
  return reinterpret_cast<Entry*>(reinterpret_cast<uintptr_t>(value) - entryOffset);
}

}  // namespace

IWeakTypeStorage* IWeakTypeStorage::OwnerOf(const TlxSprigValue* value) {
  return reinterpret_cast<const SWeakTypeEntryValue*>(value)->owner;
}

void IWeakTypeStorage::InitializeEntry(SWeakTypeEntryValue& entry) {
  entry.value = TlxSprigValue{};
  entry.value.kind = kSprigInteger;
  entry.value.entryFlag = 1;
  entry.owner = this;
}

namespace {
// Stores are used by one thread at a time, so a relaxed load and store suffice.
std::atomic<uint64_t> g_entryGeneration{0};
}  // namespace

uint64_t StoreEntryGeneration() { return g_entryGeneration.load(std::memory_order_relaxed); }

// Every entry that is freed passes here first.
void IWeakTypeStorage::ReleaseEntryValue(SWeakTypeEntryValue& entry) {
  g_entryGeneration.store(g_entryGeneration.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (entry.value.kind == kSprigString) {
    Memory::Free(reinterpret_cast<void*>(static_cast<uintptr_t>(entry.value.payload)));
  }
  entry.value.kind = kSprigInvalid;
  entry.value.payload = 0;
}

// ---- CWeakTypeMap ----

uint32_t CWeakTypeMap::GetKey(const TlxSprigValue* value) const {
  return EntryOf<SEntry>(value, offsetof(SEntry, entry))->node.key;
}

TlxSprigValue* CWeakTypeMap::Find(uint32_t id) const {
  TMapElement<uint32_t>* node = m_tree.Find(id);
  return node != nullptr ? &reinterpret_cast<SEntry*>(node)->entry.value : nullptr;
}

TlxSprigValue* CWeakTypeMap::GetOrCreate(uint32_t id) {
  if (TlxSprigValue* found = Find(id)) return found;
  SEntry* entry = static_cast<SEntry*>(Memory::Allocate(sizeof(SEntry), kEntryPool));
  ::new (static_cast<void*>(entry)) SEntry{};
  InitializeEntry(entry->entry);
  m_tree.Insert(&entry->node, id);
  return &entry->entry.value;
}

void CWeakTypeMap::Remove(uint32_t id) {
  TMapElement<uint32_t>* node = m_tree.Find(id);
  if (node == nullptr) return;
  m_tree.Erase(node);
  SEntry* entry = reinterpret_cast<SEntry*>(node);
  ReleaseEntryValue(entry->entry);
  Memory::Free(entry);
}

void CWeakTypeMap::Clear() {
  while (m_tree.count != 0) {
    TMapElement<uint32_t>* node = m_tree.First();
    m_tree.Erase(node);
    SEntry* entry = reinterpret_cast<SEntry*>(node);
    ReleaseEntryValue(entry->entry);
    Memory::Free(entry);
  }
}

// ---- CWeakTypeList ----

uint32_t CWeakTypeList::GetKey(const TlxSprigValue* value) const {
  return EntryOf<SEntry>(value, offsetof(SEntry, entry))->key;
}

CWeakTypeList::SEntry* CWeakTypeList::FindEntry(uint32_t id) const {
  for (SEntry* entry = m_head; entry != nullptr; entry = entry->next) {
    if (entry->key == id) return entry;
  }
  return nullptr;
}

TlxSprigValue* CWeakTypeList::Find(uint32_t id) const {
  SEntry* entry = FindEntry(id);
  return entry != nullptr ? &entry->entry.value : nullptr;
}

TlxSprigValue* CWeakTypeList::GetOrCreate(uint32_t id) {
  if (TlxSprigValue* found = Find(id)) return found;
  SEntry* entry = static_cast<SEntry*>(Memory::Allocate(sizeof(SEntry), kEntryPool));
  ::new (static_cast<void*>(entry)) SEntry{};
  InitializeEntry(entry->entry);
  entry->key = id;
  entry->previous = m_tail;
  if (m_tail != nullptr) {
    m_tail->next = entry;
  } else {
    m_head = entry;
  }
  m_tail = entry;
  ++m_count;
  return &entry->entry.value;
}

void CWeakTypeList::Remove(uint32_t id) {
  SEntry* entry = FindEntry(id);
  if (entry == nullptr) return;
  (entry->previous != nullptr ? entry->previous->next : m_head) = entry->next;
  (entry->next != nullptr ? entry->next->previous : m_tail) = entry->previous;
  --m_count;
  ReleaseEntryValue(entry->entry);
  Memory::Free(entry);
}

void CWeakTypeList::Clear() {
  while (m_tail != nullptr) {
    SEntry* entry = m_tail;
    m_tail = entry->previous;
    (m_tail != nullptr ? m_tail->next : m_head) = nullptr;
    --m_count;
    ReleaseEntryValue(entry->entry);
    Memory::Free(entry);
  }
}

}  // namespace Bravik
