// Reference lists: ordered arrays of packed 5-byte references with an id of their own. List
// prototypes are authored and sealed once full; list instances are run-time copies the host may
// change and release. The same class serves outside any region as a growable path of resolved
// connections.
#pragma once

#include <cstdint>

#include "repository/Items.h"
#include "repository/Repository.h"

namespace Quorin {

// Result of a change that a sealed (or full, in-region) list refuses.
constexpr uint32_t kListRefused = 0xFFFF;

// Kinds of TlxReference, ORDER REFERENCE_KIND.
enum class EReferenceKind : uint8_t { kNotSet, kPrototype, kInstance, kListPrototype, kListInstance, kBlob };
// Kinds of TlxListReference, ORDER LIST_REFERENCE_KIND.
enum class EListReferenceKind : uint8_t { kNotSet, kPrototype, kInstance };

class CReferenceList_Internal final : public IReferenceList, public TRepositoryItem<uint32_t> {
 public:
  // An empty list (no entries block) in region `region` (kReleasedRegion: free-standing).
  CReferenceList_Internal(bool prototype, uint32_t prototypeField, uint16_t region);
  ~CReferenceList_Internal();
  CReferenceList_Internal(const CReferenceList_Internal&) = delete;
  CReferenceList_Internal& operator=(const CReferenceList_Internal&) = delete;

  uint32_t GetId() const override { return key; }
  void EraseFromIndex(RepositoryIndex& index);

  // The kind is kept apart from the prototype list id field, which a list instance may be given
  // as 0xFFFFFFFF.
  bool IsPrototype() const { return m_isPrototype; }
  bool IsFreeStanding() const { return regionId == kReleasedRegion; }
  // A list prototype of a region, once complete, refuses every change.
  bool IsSealed() const { return m_isPrototype && m_sealed && !IsFreeStanding(); }

  // Each change gives kListRefused and leaves the list as it is when sealed.
  // Resizes the entries block to capacity entries (none for 0) and clips the count; 0.
  uint32_t ReserveEntries(uint32_t newCapacity);
  // Appends one reference: 1 when it completed a list prototype, else 0. A full list in a region
  // refuses; a free-standing one grows to max(1, twice its capacity).
  uint32_t AddReference(const TlxReference& reference);
  // As AddReference for each of count references, for a list in a region: those past its
  // capacity are refused. Gives how many were appended.
  uint32_t AppendEntries(const TlxReference* source, uint32_t sourceCount);
  // The entries become a copy of other's (count and capacity equal to its count); the result is
  // the new sealed flag (set for a list prototype).
  uint32_t AssignList(const CReferenceList_Internal& other);
  uint32_t AssignEntries(const TlxReference* source, uint32_t sourceCount);

  // Entry i (copied out of the packed record), or false when i is not below the count.
  bool EntryAt(uint32_t i, TlxReference& entry) const;

 private:
  bool m_isPrototype;
  bool m_sealed = false;
};

inline CReferenceList_Internal* ListOfHandle(TlxReferenceList* handle) {
  return static_cast<CReferenceList_Internal*>(InterfaceOf(handle));
}

// ---- Look-up (null when absent) ---------------------------------------------------------------
CReferenceList_Internal* FindListPrototype(const Repository& repository, uint32_t id);
CReferenceList_Internal* FindListInstance(const Repository& repository, uint32_t id);
// A list prototype with this id that can still be filled (not sealed), for the import.
CReferenceList_Internal* FindUnsealedListPrototype(const Repository& repository, uint32_t id);

// ---- Creation, in the current region; ids are not tested for repeats ----------------------------
// Filled and sealed at once (also with no entries).
CReferenceList_Internal* CreateListPrototype(Repository& repository, uint32_t id, const TlxReference* entries,
                                             uint32_t count);
// Room for capacity entries; sealed by the AddReference that fills it.
CReferenceList_Internal* CreateEmptyListPrototype(Repository& repository, uint32_t id, uint32_t capacity);
// A copy of the list prototype; null (nothing created) when it is absent.
CReferenceList_Internal* CreateListInstanceFromPrototype(Repository& repository, uint32_t id, uint32_t prototypeId);
CReferenceList_Internal* CreateEmptyListInstance(Repository& repository, uint32_t id, uint32_t capacity,
                                                 uint32_t prototypeListId);
// A copy of another list instance, descending from that list; null when it is absent.
CReferenceList_Internal* CloneListInstance(Repository& repository, uint32_t newId, uint32_t sourceId);
// Frees the entries, unlinks the list and frees its slot. Unknown ids do nothing.
void ReleaseListInstance(Repository& repository, uint32_t id);

// Free-standing lists (connection paths): in no region and no tree, growing as they fill. The
// caller owns the list and gives it back with DestroyFreeStandingList.
CReferenceList_Internal* CreateFreeStandingList(uint32_t capacity);
void DestroyFreeStandingList(CReferenceList_Internal* list);

// ---- Resolution ---------------------------------------------------------------------------------
// The object, list or blob a reference names through its kind; null for other kinds or absent ids.
CObject_Internal* ResolveObjectReference(const Repository& repository, const TlxReference& reference);
CReferenceList_Internal* ResolveListReference(const Repository& repository, const TlxReference& reference);
CReferenceList_Internal* ResolveListReference(const Repository& repository, const TlxListReference& reference);
// The list named by entry i of the list a list reference names: null when that list is absent,
// i is not below its count, or the entry names no list.
CReferenceList_Internal* ResolveListEntry(const Repository& repository, const TlxListReference& reference,
                                          uint32_t i);

// The forms the exports call: a null argument gives the absent result.
inline CObject_Internal* ResolveObjectReference(const Repository& repository, const TlxReference* reference) {
  return reference != nullptr ? ResolveObjectReference(repository, *reference) : nullptr;
}
template <typename Reference>
CReferenceList_Internal* ResolveListReference(const Repository& repository, const Reference* reference) {
  return reference != nullptr ? ResolveListReference(repository, *reference) : nullptr;
}
inline uint32_t AddReference(TlxReferenceList* list, const TlxReference* reference) {
  return list != nullptr && reference != nullptr ? ListOfHandle(list)->AddReference(*reference) : kListRefused;
}

// ---- Walks --------------------------------------------------------------------------------------
template <typename F>
void WalkListPrototypes(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::lists,
                       [&](CReferenceList_Internal& list) { return !list.IsPrototype() || visit(list); });
}

template <typename F>
void WalkListInstances(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::lists,
                       [&](CReferenceList_Internal& list) { return list.IsPrototype() || visit(list); });
}

}  // namespace Quorin
