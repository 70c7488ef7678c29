#include "interchange/ExportWalk.h"

#include "foundation/container/WeakTypeStorage.h"
#include "interchange/InterchangeNames.h"
#include "sprig/Value.h"

namespace Quorin {

bool FindReferenceTarget(const Repository& repository, const TlxSprigValue& value, SReferenceTarget& target) {
  if (value.kind != Sprig::kSprigReference) return false;
  const auto* entry = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(value.payload));
  if (entry == nullptr || entry->entryFlag != 1) return false;
  // A kept entry whose store is gone has no owner: nothing to point at.
  const Sprig::IWeakTypeStorage* store = Sprig::IWeakTypeStorage::EntryOf(*entry).owner;
  if (store == nullptr) return false;
  const uint32_t kind = store->GetKind();
  if (kind == Bravik::kStoragePrototype && FindPrototype(repository, store->GetId()) == nullptr) return false;
  if (kind == Bravik::kStorageInstance && FindInstance(repository, store->GetId()) == nullptr) return false;
  target = SReferenceTarget{kind, store->GetId(), store->GetKey(entry)};
  return true;
}

uint64_t CExportWalk::CountVariables() const {
  uint64_t count = 0;
  if (Has(kSectionVariables)) {
    Sprig::CScriptState& state = repository.Scripts().State();
    count += state.GetGlobals().GetCount();
    state.WalkNamespaces([&](uint32_t, Sprig::CNamespace& space) {
      count += space.variables.GetCount();
      return true;
    });
  }
  if (Has(kSectionBoundVariables)) {
    WalkBoundStores(repository, kAllRegions, [&](CBoundStore& store) {
      count += store.GetCount();
      return true;
    });
  }
  return count;
}

void CExportWalk::BeginProgress() {
  if (m_progress == nullptr) return;
  uint64_t total = CountVariables();
  const uint64_t counts[6] = {index.classes.count, index.templates.count,
                              index.prototypes.count + index.listPrototypes.count,
                              index.instances.count + index.listInstances.count,
                              index.texts.count, index.blobs.count};
  for (uint32_t bit = 0; bit < 6; ++bit) {
    if (Has(1u << bit)) total += counts[bit];
  }
  m_progress->Begin(static_cast<float>(total));
}

}  // namespace Quorin
