// The value stores of scripts: the foundation's stores over TlxSprigValue, the value kinds, and
// the guard that keeps a stored Reference from ever dangling.
//
// Scripts never store a Reference in a variable (assignments copy the value); only the host does,
// by writing through an entry address that the library handed out (TlxSprigGetVar, or a plain
// variable through TlxSprigExecuteParsed). Such entries are "exposed". An exposed entry that
// leaves its store is kept, reading as Invalid, until the next collection, which turns every
// exposed variable that still refers to a kept entry into Invalid and then frees the kept ones.
// Collections run once the kept entries outnumber the live exposed ones, so a store's
// destruction costs in proportion to its own entries whatever the number of stores.
#pragma once

#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "foundation/container/Array.h"
#include "foundation/container/WeakTypeStorage.h"

namespace Quorin::Sprig {

// ORDER SPRIG_KIND
constexpr uint8_t kSprigReference = 0;
constexpr uint8_t kSprigBoolean = 1;
constexpr uint8_t kSprigInteger = 2;
constexpr uint8_t kSprigFloat = 3;
constexpr uint8_t kSprigString = 4;
constexpr uint8_t kSprigInvalid = 5;

struct SValuePolicy {
  using Record = TlxSprigValue;
  // Integer 0 with the entry flag set.
  static void Initialize(TlxSprigValue& value) {
    value = TlxSprigValue{};
    value.kind = kSprigInteger;
    value.entryFlag = 1;
  }
  // Frees a String's text block; the value becomes Invalid (the entry flag stays).
  static void Release(TlxSprigValue& value) {
    if (value.kind == kSprigString) Bravik::Memory::Free(reinterpret_cast<void*>(static_cast<uintptr_t>(value.payload)));
    value.kind = kSprigInvalid;
    value.payload = 0;
  }
};

using IWeakTypeStorage = Bravik::TWeakTypeStorage<SValuePolicy>;
using CWeakTypeMap = Bravik::TWeakTypeMap<SValuePolicy>;
using CWeakTypeList = Bravik::TWeakTypeList<SValuePolicy>;
using SStoreEntry = Bravik::TWeakTypeEntry<SValuePolicy>;

// True for an entry that has left its store and is only kept until the next collection.
inline bool IsLeftEntry(const TlxSprigValue& value) {
  return value.entryFlag == 1 && IWeakTypeStorage::EntryOf(value).owner == nullptr;
}

class CReferenceGuard final : public Bravik::TEntryKeeper<SValuePolicy> {
 public:
  CReferenceGuard() = default;
  CReferenceGuard(const CReferenceGuard&) = delete;
  CReferenceGuard& operator=(const CReferenceGuard&) = delete;
  // Frees the kept entries; every store that uses the guard must be gone.
  ~CReferenceGuard();

  // Marks the entry that holds `value` as exposed (nothing for a value that is no entry). Raises
  // std::bad_alloc with nothing marked.
  void Expose(TlxSprigValue& value);
  bool Keep(SStoreEntry& entry) override;
  // Collects when the kept entries outnumber the live exposed ones.
  void CollectIfDue();
  void Collect();
  uint64_t GetKeptCount() const { return m_kept; }

 private:
  static constexpr uint16_t kExposed = 1;
  static constexpr uint64_t kCollectMinimum = 64;

  Bravik::TArray<SStoreEntry*> m_exposed;  // live and kept
  uint64_t m_kept = 0;
};

}  // namespace Quorin::Sprig

extern template class Bravik::TWeakTypeStorage<Quorin::Sprig::SValuePolicy>;
extern template class Bravik::TWeakTypeMap<Quorin::Sprig::SValuePolicy>;
extern template class Bravik::TWeakTypeList<Quorin::Sprig::SValuePolicy>;
