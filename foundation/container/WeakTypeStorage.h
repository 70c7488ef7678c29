// Value stores: a 32-bit key (in practice the name hash of a variable) mapped to one value record.
// The stores know nothing of the record beyond its policy:
//
//   struct SPolicy {
//     using Record = ...;                    // trivially copyable
//     static void Initialize(Record& value);  // the value of a new entry
//     static void Release(Record& value);     // frees what the value owns (the record stays)
//   };
//
// A store owns its entries; the value pointers it hands out stay valid until their entry leaves
// the store (Remove, Clear, destruction). An entry that leaves goes to the store's keeper first,
// which may take it over (the store then frees neither it nor its value) and free it later with
// FreeKeptEntry; without a keeper, or when the keeper declines, it is freed at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "foundation/container/MapTree.h"
#include "foundation/memory/Memory.h"
#include "foundation/string/String.h"

namespace Bravik {

constexpr uint32_t kGlobalStorageId = 0xFFFFFFFFu;

// Kind values of a store: script namespaces use 0; the Repository picks 1 or 2 for the stores it
// binds to prototypes and instances. The store itself never reads it.
constexpr uint32_t kStorageNamespace = 0;
constexpr uint32_t kStoragePrototype = 1;
constexpr uint32_t kStorageInstance = 2;

// Goes up whenever an entry leaves any store. Entries never move while they live, so an entry
// address remembered together with this number stays usable while the number is unchanged.
uint64_t StoreEntryGeneration();
// For owners that take entries out of reach without freeing them yet.
void AdvanceStoreEntryGeneration();

template <typename TPolicy>
class TWeakTypeStorage;

// What every entry holds: the value first (so a value handed out converts back to its entry),
// the store that owns it (null once it has left), and bits for the keeper. Standard layout.
template <typename TPolicy>
struct TWeakTypeEntry {
  typename TPolicy::Record value;
  TWeakTypeStorage<TPolicy>* owner;
  uint16_t marks;  // the keeper's
  uint8_t shape;   // which store class made it, for FreeKeptEntry
};

// Takes over entries that leave their store while something outside may still hold their
// address.
template <typename TPolicy>
class TEntryKeeper {
 public:
  // True when the keeper takes the entry (owner already null); false to let the store free it.
  virtual bool Keep(TWeakTypeEntry<TPolicy>& entry) = 0;

 protected:
  ~TEntryKeeper() = default;
};

template <typename TPolicy>
class TWeakTypeStorage {
 public:
  using Record = typename TPolicy::Record;
  using Entry = TWeakTypeEntry<TPolicy>;
  using Keeper = TEntryKeeper<TPolicy>;
  static_assert(std::is_standard_layout_v<Entry> && offsetof(Entry, value) == 0);

  TWeakTypeStorage(uint32_t id, uint32_t kind, Keeper* keeper) : m_keeper(keeper), m_id(id), m_kind(kind) {}
  TWeakTypeStorage(const TWeakTypeStorage&) = delete;
  TWeakTypeStorage& operator=(const TWeakTypeStorage&) = delete;
  virtual ~TWeakTypeStorage() = default;

  // The key of the entry holding `value`, which must come from this store.
  virtual uint32_t GetKey(const Record* value) const = 0;
  virtual bool Contains(uint32_t id) const = 0;
  bool Contains(const IString& name) const { return Contains(CalculateHash(name)); }
  // The entry leaves (see the keeper); an absent key does nothing.
  virtual void Remove(uint32_t id) = 0;
  void Remove(const IString& name) { Remove(CalculateHash(name)); }
  virtual void Clear() = 0;
  // The value of the entry with that key, created by the policy when absent. Raises
  // std::bad_alloc with the store unchanged.
  virtual Record* GetOrCreate(uint32_t id) = 0;
  Record* GetOrCreate(const IString& name) { return GetOrCreate(CalculateHash(name)); }
  virtual uint64_t GetCount() const = 0;
  // The value of the entry with that key, or null; never creates.
  virtual Record* Find(uint32_t id) const = 0;

  uint32_t GetId() const { return m_id; }
  uint32_t GetKind() const { return m_kind; }

  // The entry of a value that a store handed out (the value is the entry's first member).
  static Entry& EntryOf(Record& value) { return *reinterpret_cast<Entry*>(&value); }
  static const Entry& EntryOf(const Record& value) { return *reinterpret_cast<const Entry*>(&value); }
  // Frees an entry its keeper took over (its value was already released by the keeper).
  static void FreeKeptEntry(Entry& entry);

 protected:
  enum EShape : uint8_t { kMapShape, kListShape };

  void InitializeEntry(Entry& entry, EShape shape) {
    TPolicy::Initialize(entry.value);
    entry.owner = this;
    entry.marks = 0;
    entry.shape = shape;
  }
  // Called with an unlinked entry: true when the caller must free the block (and the value has
  // been released), false when the keeper took it.
  bool Leave(Entry& entry) {
    AdvanceStoreEntryGeneration();
    entry.owner = nullptr;
    if (m_keeper != nullptr && m_keeper->Keep(entry)) return false;
    TPolicy::Release(entry.value);
    return true;
  }

 private:
  Keeper* m_keeper;
  uint32_t m_id;
  uint32_t m_kind;
};

// Entries in a red-black tree keyed by id: GetOrCreate and Contains are logarithmic, and the
// entries can be walked in ascending key order.
template <typename TPolicy>
class TWeakTypeMap final : public TWeakTypeStorage<TPolicy> {
  using Base = TWeakTypeStorage<TPolicy>;

 public:
  using typename Base::Entry;
  using typename Base::Keeper;
  using typename Base::Record;
  struct SEntry : Entry, TMapElement<uint32_t> {};

  TWeakTypeMap(uint32_t id, uint32_t kind, Keeper* keeper = nullptr) : Base(id, kind, keeper) {}
  ~TWeakTypeMap() override { Clear(); }

  uint32_t GetKey(const Record* value) const override { return NodeOf(*value).key; }
  bool Contains(uint32_t id) const override { return m_tree.Find(id) != nullptr; }
  void Remove(uint32_t id) override {
    if (TMapElement<uint32_t>* node = m_tree.Find(id)) Drop(node);
  }
  // Smallest key first.
  void Clear() override {
    while (m_tree.count != 0) Drop(m_tree.First());
  }
  Record* GetOrCreate(uint32_t id) override {
    if (Record* found = Find(id)) return found;
    SEntry* entry = Memory::New<SEntry>(Memory::kPool8);
    this->InitializeEntry(*entry, Base::kMapShape);
    m_tree.Insert(entry, id);
    return &entry->value;
  }
  uint64_t GetCount() const override { return m_tree.count; }
  Record* Find(uint32_t id) const override {
    TMapElement<uint32_t>* node = m_tree.Find(id);
    return node != nullptr ? &static_cast<SEntry*>(node)->value : nullptr;
  }

  using Base::Contains;
  using Base::GetOrCreate;
  using Base::Remove;

  // Visits (key, value) in ascending key order until visit returns false.
  template <typename F>
  bool Walk(F&& visit) const {
    return m_tree.Walk([&](TMapElement<uint32_t>* node) {
      return visit(node->key, &static_cast<SEntry*>(node)->value);
    });
  }

 private:
  static const SEntry& NodeOf(const Record& value) { return static_cast<const SEntry&>(Base::EntryOf(value)); }
  void Drop(TMapElement<uint32_t>* node) {
    m_tree.Erase(node);
    SEntry* entry = static_cast<SEntry*>(node);
    if (this->Leave(*entry)) Memory::Delete(entry);
  }

  TMapTree<uint32_t> m_tree;
};

// Entries in a doubly linked list in creation order: small stores bound to single objects.
template <typename TPolicy>
class TWeakTypeList : public TWeakTypeStorage<TPolicy> {
  using Base = TWeakTypeStorage<TPolicy>;

 public:
  using typename Base::Entry;
  using typename Base::Keeper;
  using typename Base::Record;
  struct SEntry : Entry {
    SEntry* next;
    SEntry* previous;
    uint32_t key;
  };

  TWeakTypeList(uint32_t id, uint32_t kind, Keeper* keeper = nullptr) : Base(id, kind, keeper) {}
  ~TWeakTypeList() override { Clear(); }

  uint32_t GetKey(const Record* value) const override {
    return static_cast<const SEntry&>(Base::EntryOf(*value)).key;
  }
  bool Contains(uint32_t id) const override { return FindEntry(id) != nullptr; }
  void Remove(uint32_t id) override {
    if (SEntry* entry = FindEntry(id)) Drop(entry);
  }
  // Newest first.
  void Clear() override {
    while (m_tail != nullptr) Drop(m_tail);
  }
  Record* GetOrCreate(uint32_t id) override;
  uint64_t GetCount() const override { return m_count; }
  Record* Find(uint32_t id) const override {
    SEntry* entry = FindEntry(id);
    return entry != nullptr ? &entry->value : nullptr;
  }

  using Base::Contains;
  using Base::GetOrCreate;
  using Base::Remove;

  // Visits (key, value) in creation order until visit returns false.
  template <typename F>
  bool Walk(F&& visit) const {
    for (SEntry* entry = m_head; entry != nullptr; entry = entry->next) {
      if (!visit(entry->key, &entry->value)) return false;
    }
    return true;
  }

 private:
  SEntry* FindEntry(uint32_t id) const {
    for (SEntry* entry = m_head; entry != nullptr; entry = entry->next) {
      if (entry->key == id) return entry;
    }
    return nullptr;
  }
  void Drop(SEntry* entry);

  SEntry* m_head = nullptr;
  SEntry* m_tail = nullptr;
  uint64_t m_count = 0;
};

template <typename TPolicy>
void TWeakTypeStorage<TPolicy>::FreeKeptEntry(Entry& entry) {
  if (entry.shape == kMapShape) {
    Memory::Delete(static_cast<typename TWeakTypeMap<TPolicy>::SEntry*>(&entry));
  } else {
    Memory::Delete(static_cast<typename TWeakTypeList<TPolicy>::SEntry*>(&entry));
  }
}

template <typename TPolicy>
typename TWeakTypeList<TPolicy>::Record* TWeakTypeList<TPolicy>::GetOrCreate(uint32_t id) {
  if (Record* found = Find(id)) return found;
  SEntry* entry = Memory::New<SEntry>(Memory::kPool8);
  this->InitializeEntry(*entry, Base::kListShape);
  entry->key = id;
  entry->next = nullptr;
  entry->previous = m_tail;
  (m_tail != nullptr ? m_tail->next : m_head) = entry;
  m_tail = entry;
  ++m_count;
  return &entry->value;
}

template <typename TPolicy>
void TWeakTypeList<TPolicy>::Drop(SEntry* entry) {
  (entry->previous != nullptr ? entry->previous->next : m_head) = entry->next;
  (entry->next != nullptr ? entry->next->previous : m_tail) = entry->previous;
  --m_count;
  if (this->Leave(*entry)) Memory::Delete(entry);
}

}  // namespace Bravik
