#include "repository/ReferenceLists.h"

#include <cstring>

#include "foundation/memory/Memory.h"
#include "foundation/system/Assert.h"
#include "repository/Objects.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

namespace {

// Packed 5-byte records need no alignment.
constexpr uint32_t kEntryPool = Memory::kObjectPool;

TlxReference* CopyEntries(const TlxReference* source, uint32_t count) {
  if (count == 0) return nullptr;  // zero-size copies allocate nothing
  auto* copy = static_cast<TlxReference*>(Memory::Allocate(uint64_t{count} * sizeof(TlxReference), kEntryPool));
  std::memcpy(static_cast<void*>(copy), source, uint64_t{count} * sizeof(TlxReference));
  return copy;
}

CReferenceList_Internal* FindIn(const Bravik::TMapTree<uint32_t>& tree, uint32_t id) {
  Bravik::TMapElement<uint32_t>* node = tree.Find(id);
  return node != nullptr ? static_cast<CReferenceList_Internal*>(node) : nullptr;
}

// A list in the current region filled by fill(list); the slot goes back if filling fails.
template <typename F>
CReferenceList_Internal* CreateList(Repository& repository, bool prototype, uint32_t id, uint32_t prototypeField,
                                    F&& fill) {
  Region& region = repository.CurrentRegion();
  CReferenceList_Internal* list = region.lists.Emplace(prototype, prototypeField, region.id);
  try {
    fill(*list);
  } catch (...) {
    region.lists.Release(list);
    throw;
  }
  RepositoryIndex& index = repository.Index();
  (prototype ? index.listPrototypes : index.listInstances).Insert(list, id);
  return list;
}

}  // namespace

CReferenceList_Internal::CReferenceList_Internal(bool prototype, uint32_t prototypeField, uint16_t region)
    : m_isPrototype(prototype) {
  prototypeListId = prototypeField;
  regionId = region;
}

CReferenceList_Internal::~CReferenceList_Internal() { Memory::Free(entries); }

void CReferenceList_Internal::EraseFromIndex(RepositoryIndex& index) {
  (m_isPrototype ? index.listPrototypes : index.listInstances).Erase(this);
}

uint32_t CReferenceList_Internal::ReserveEntries(uint32_t newCapacity) {
  if (IsSealed()) return kListRefused;
  const uint64_t bytes = uint64_t{newCapacity} * sizeof(TlxReference);
  // A new list's first entries are a plain allocation, the cheaper path.
  entries = static_cast<TlxReference*>(entries == nullptr ? Memory::Allocate(bytes, kEntryPool)
                                                          : Memory::Reallocate(entries, bytes, kEntryPool));
  capacity = newCapacity;
  if (count > newCapacity) count = newCapacity;
  return 0;
}

uint32_t CReferenceList_Internal::AddReference(const TlxReference& reference) {
  if (IsSealed()) return kListRefused;
  if (count == capacity) {
    // Lists in a region hold what their creator asked room for; paths grow.
    if (!IsFreeStanding()) return kListRefused;
    ReserveEntries(capacity == 0 ? 1 : 2 * capacity);
  }
  std::memcpy(static_cast<void*>(entries + count), &reference, sizeof reference);
  ++count;
  m_sealed = m_isPrototype && count == capacity;
  return m_sealed ? 1 : 0;
}

uint32_t CReferenceList_Internal::AppendEntries(const TlxReference* source, uint32_t sourceCount) {
  if (IsSealed() || IsFreeStanding()) return 0;
  const uint32_t room = capacity - count;
  const uint32_t appended = sourceCount < room ? sourceCount : room;
  if (appended == 0) return 0;
  std::memcpy(static_cast<void*>(entries + count), source, uint64_t{appended} * sizeof(TlxReference));
  count += appended;
  m_sealed = m_isPrototype && count == capacity;
  return appended;
}

uint32_t CReferenceList_Internal::AssignEntries(const TlxReference* source, uint32_t sourceCount) {
  if (IsSealed()) return kListRefused;
  TlxReference* copy = CopyEntries(source, sourceCount);
  Memory::Free(entries);
  entries = copy;
  count = sourceCount;
  capacity = sourceCount;
  m_sealed = m_isPrototype;
  return m_sealed ? 1 : 0;
}

uint32_t CReferenceList_Internal::AssignList(const CReferenceList_Internal& other) {
  return AssignEntries(other.entries, other.count);
}

bool CReferenceList_Internal::EntryAt(uint32_t i, TlxReference& entry) const {
  if (i >= count) return false;
  std::memcpy(&entry, entries + i, sizeof entry);
  return true;
}

CReferenceList_Internal* FindListPrototype(const Repository& repository, uint32_t id) {
  return FindIn(repository.Index().listPrototypes, id);
}

CReferenceList_Internal* FindListInstance(const Repository& repository, uint32_t id) {
  return FindIn(repository.Index().listInstances, id);
}

CReferenceList_Internal* FindUnsealedListPrototype(const Repository& repository, uint32_t id) {
  // Ids may repeat: any list prototype of that id still open will do.
  using Tree = Bravik::TMapTree<uint32_t>;
  for (Tree::Node* node = repository.Index().listPrototypes.FindFirst(id); node != nullptr;
       node = Tree::NextSameKey(node)) {
    auto* list = static_cast<CReferenceList_Internal*>(node);
    if (!list->IsSealed()) return list;
  }
  return nullptr;
}

CReferenceList_Internal* CreateListPrototype(Repository& repository, uint32_t id, const TlxReference* entries,
                                             uint32_t count) {
  if (entries == nullptr) count = 0;
  return CreateList(repository, true, id, kNoId32,
                    [&](CReferenceList_Internal& list) { list.AssignEntries(entries, count); });
}

CReferenceList_Internal* CreateEmptyListPrototype(Repository& repository, uint32_t id, uint32_t capacity) {
  return CreateList(repository, true, id, kNoId32, [&](CReferenceList_Internal& list) {
    if (capacity != 0) list.ReserveEntries(capacity);
  });
}

CReferenceList_Internal* CreateListInstanceFromPrototype(Repository& repository, uint32_t id, uint32_t prototypeId) {
  const CReferenceList_Internal* prototype = FindListPrototype(repository, prototypeId);
  if (prototype == nullptr) return nullptr;
  return CreateList(repository, false, id, prototypeId,
                    [&](CReferenceList_Internal& list) { list.AssignList(*prototype); });
}

CReferenceList_Internal* CreateEmptyListInstance(Repository& repository, uint32_t id, uint32_t capacity,
                                                 uint32_t prototypeListId) {
  return CreateList(repository, false, id, prototypeListId, [&](CReferenceList_Internal& list) {
    if (capacity != 0) list.ReserveEntries(capacity);
  });
}

CReferenceList_Internal* CloneListInstance(Repository& repository, uint32_t newId, uint32_t sourceId) {
  const CReferenceList_Internal* source = FindListInstance(repository, sourceId);
  if (source == nullptr) return nullptr;
  return CreateList(repository, false, newId, sourceId,
                    [&](CReferenceList_Internal& list) { list.AssignList(*source); });
}

void ReleaseListInstance(Repository& repository, uint32_t id) {
  CReferenceList_Internal* list = FindListInstance(repository, id);
  if (list == nullptr) return;
  Region* region = repository.FindRegion(list->regionId);
  repository.Index().listInstances.Erase(list);
  region->lists.Release(list);
}

CReferenceList_Internal* CreateFreeStandingList(uint32_t capacity) {
  auto* list = Memory::New<CReferenceList_Internal>(Memory::PoolForAlignment(alignof(CReferenceList_Internal)),
                                                    false, kNoId32, kReleasedRegion);
  try {
    if (capacity != 0) list->ReserveEntries(capacity);
  } catch (...) {
    Memory::Delete(list);
    throw;
  }
  return list;
}

void DestroyFreeStandingList(CReferenceList_Internal* list) {
  BRAVIK_ASSERT(list == nullptr || list->IsFreeStanding());
  Memory::Delete(list);
}

CObject_Internal* ResolveObjectReference(const Repository& repository, const TlxReference& reference) {
  switch (static_cast<EReferenceKind>(reference.kind)) {
    case EReferenceKind::kPrototype: return FindPrototype(repository, reference.id);
    case EReferenceKind::kInstance: return FindInstance(repository, reference.id);
    default: return nullptr;
  }
}

CReferenceList_Internal* ResolveListReference(const Repository& repository, const TlxReference& reference) {
  switch (static_cast<EReferenceKind>(reference.kind)) {
    case EReferenceKind::kListPrototype: return FindListPrototype(repository, reference.id);
    case EReferenceKind::kListInstance: return FindListInstance(repository, reference.id);
    default: return nullptr;
  }
}

CReferenceList_Internal* ResolveListReference(const Repository& repository, const TlxListReference& reference) {
  switch (static_cast<EListReferenceKind>(reference.kind)) {
    case EListReferenceKind::kPrototype: return FindListPrototype(repository, reference.id);
    case EListReferenceKind::kInstance: return FindListInstance(repository, reference.id);
    default: return nullptr;
  }
}

CReferenceList_Internal* ResolveListEntry(const Repository& repository, const TlxListReference& reference,
                                          uint32_t i) {
  const CReferenceList_Internal* list = ResolveListReference(repository, reference);
  TlxReference entry;
  if (list == nullptr || !list->EntryAt(i, entry)) return nullptr;
  return ResolveListReference(repository, entry);
}

}  // namespace Quorin
