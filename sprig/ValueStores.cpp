#include "sprig/ValueStores.h"

#include "foundation/system/Assert.h"

template class Bravik::TWeakTypeStorage<Quorin::Sprig::SValuePolicy>;
template class Bravik::TWeakTypeMap<Quorin::Sprig::SValuePolicy>;
template class Bravik::TWeakTypeList<Quorin::Sprig::SValuePolicy>;

namespace Quorin::Sprig {

static_assert(sizeof(TlxSprigValue) == 16 && offsetof(TlxSprigValue, kind) == 8 &&
              offsetof(TlxSprigValue, entryFlag) == 9);

CReferenceGuard::~CReferenceGuard() {
  for (SStoreEntry* entry : m_exposed) {
    BRAVIK_ASSERT(entry->owner == nullptr);
    IWeakTypeStorage::FreeKeptEntry(*entry);
  }
}

void CReferenceGuard::Expose(TlxSprigValue& value) {
  if (value.entryFlag != 1) return;
  SStoreEntry& entry = IWeakTypeStorage::EntryOf(value);
  if ((entry.marks & kExposed) != 0) return;
  m_exposed.Append(&entry);
  entry.marks |= kExposed;
}

bool CReferenceGuard::Keep(SStoreEntry& entry) {
  if ((entry.marks & kExposed) == 0) return false;
  SValuePolicy::Release(entry.value);
  ++m_kept;
  return true;
}

void CReferenceGuard::CollectIfDue() {
  if (m_kept >= kCollectMinimum && 2 * m_kept >= m_exposed.Count()) Collect();
}

// Exposed variables that refer to a kept entry become Invalid, then the kept entries go.
void CReferenceGuard::Collect() {
  if (m_kept == 0) return;
  for (SStoreEntry* entry : m_exposed) {
    const TlxSprigValue& value = entry->value;
    if (entry->owner == nullptr || value.kind != kSprigReference) continue;
    const auto* target = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(value.payload));
    if (target != nullptr && IsLeftEntry(*target)) SValuePolicy::Release(entry->value);
  }
  uint64_t live = 0;
  for (SStoreEntry* entry : m_exposed) {
    if (entry->owner != nullptr) {
      m_exposed[live++] = entry;
    } else {
      IWeakTypeStorage::FreeKeptEntry(*entry);
    }
  }
  // Only shortens: nothing here may allocate.
  while (m_exposed.Count() > live) m_exposed.RemoveAt(m_exposed.Count() - 1);
  if (live == 0) m_exposed.Free();
  m_kept = 0;
}

}  // namespace Quorin::Sprig
