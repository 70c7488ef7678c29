// Value stores: a 32-bit key (in practice the name hash of a variable) mapped to one dynamically
// typed script value. A store owns its entries and the text blocks of String values; the value
// pointers it hands out stay valid until their entry is removed or the store cleared.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/container/MapTree.h"
#include "foundation/string/String.h"

// The script value record, identical inside the library and at the C boundary. The public header
// defines it under the same guard, so either may come first.
#ifndef TLX_SPRIG_VALUE_DEFINED
#define TLX_SPRIG_VALUE_DEFINED
typedef struct TlxSprigValue {
  uint64_t payload;  // depends on the kind
  uint8_t kind;      // 0 Reference, 1 Boolean, 2 Integer, 3 Float, 4 String, 5 Invalid
  uint8_t entryFlag; // 1 in a value that is an entry of a value store
  uint8_t reserved[6];
} TlxSprigValue;
#endif

static_assert(sizeof(TlxSprigValue) == 16);
static_assert(offsetof(TlxSprigValue, kind) == 8);
static_assert(offsetof(TlxSprigValue, entryFlag) == 9);

namespace Bravik {

// Goes up whenever any store frees an entry. Entries never move while they live, so an entry
// address remembered together with this number stays usable while the number is unchanged.
uint64_t StoreEntryGeneration();

// ORDER SPRIG_KIND
constexpr uint8_t kSprigReference = 0;
constexpr uint8_t kSprigBoolean = 1;
constexpr uint8_t kSprigInteger = 2;
constexpr uint8_t kSprigFloat = 3;
constexpr uint8_t kSprigString = 4;
constexpr uint8_t kSprigInvalid = 5;

constexpr uint32_t kGlobalStorageId = 0xFFFFFFFFu;

// Kind values of a store: script namespaces use 0; the Repository picks 1 or 2 for the stores it
// binds to prototypes and instances. The store itself never reads it.
constexpr uint32_t kStorageNamespace = 0;
constexpr uint32_t kStoragePrototype = 1;
constexpr uint32_t kStorageInstance = 2;

class IWeakTypeStorage;

// The part every entry shares: the value, then the store that owns it.
struct SWeakTypeEntryValue {
  TlxSprigValue value;
  IWeakTypeStorage* owner;
};

class IWeakTypeStorage {
 public:
  IWeakTypeStorage(uint32_t id, uint32_t kind) : m_id(id), m_kind(kind) {}
  IWeakTypeStorage(const IWeakTypeStorage&) = delete;
  IWeakTypeStorage& operator=(const IWeakTypeStorage&) = delete;
  virtual ~IWeakTypeStorage() = default;

  // The key of the entry holding `value`, which must come from this store.
  virtual uint32_t GetKey(const TlxSprigValue* value) const = 0;
  virtual bool Contains(uint32_t id) const = 0;
  bool Contains(const IString& name) const { return Contains(CalculateHash(name)); }
  // Frees the entry (and its text) if present; an absent key does nothing.
  virtual void Remove(uint32_t id) = 0;
  void Remove(const IString& name) { Remove(CalculateHash(name)); }
  virtual void Clear() = 0;
  // The value of the entry with that key, created as Integer 0 when absent. Raises
  // std::bad_alloc with the store unchanged.
  virtual TlxSprigValue* GetOrCreate(uint32_t id) = 0;
  TlxSprigValue* GetOrCreate(const IString& name) { return GetOrCreate(CalculateHash(name)); }
  virtual uint64_t GetCount() const = 0;

  // The value of the entry with that key, or null; never creates.
  virtual TlxSprigValue* Find(uint32_t id) const = 0;

  uint32_t GetId() const { return m_id; }
  uint32_t GetKind() const { return m_kind; }
  // The store that owns a value handed out by GetOrCreate or Find.
  static IWeakTypeStorage* OwnerOf(const TlxSprigValue* value);

 protected:
  // Entry values are created with kind Integer, payload 0 and the entry flag set.
  void InitializeEntry(SWeakTypeEntryValue& entry);
  // Frees the text block of a String value.
  static void ReleaseEntryValue(SWeakTypeEntryValue& entry);

 private:
  uint32_t m_id;
  uint32_t m_kind;
};

// Entries in a red-black tree keyed by id: GetOrCreate and Contains are logarithmic, and the
// entries can be walked in ascending key order.
class CWeakTypeMap : public IWeakTypeStorage {
 public:
  // The tree node comes first, so a node pointer is the entry's address.
  struct SEntry {
    TMapElement<uint32_t> node;
    SWeakTypeEntryValue entry;
  };

  CWeakTypeMap(uint32_t id, uint32_t kind) : IWeakTypeStorage(id, kind) {}
  ~CWeakTypeMap() override { Clear(); }

  uint32_t GetKey(const TlxSprigValue* value) const override;
  bool Contains(uint32_t id) const override { return m_tree.Find(id) != nullptr; }
  void Remove(uint32_t id) override;
  void Clear() override;
  TlxSprigValue* GetOrCreate(uint32_t id) override;
  uint64_t GetCount() const override { return m_tree.count; }
  TlxSprigValue* Find(uint32_t id) const override;

  using IWeakTypeStorage::Contains;
  using IWeakTypeStorage::GetOrCreate;
  using IWeakTypeStorage::Remove;

  // Visits (key, value) in ascending key order until visit returns false.
  template <typename F>
  bool Walk(F&& visit) const {
    return m_tree.Walk([&](TMapElement<uint32_t>* node) {
      return visit(node->key, &reinterpret_cast<SEntry*>(node)->entry.value);
    });
  }

 private:
  TMapTree<uint32_t> m_tree;
};

// Entries in a doubly linked list in creation order: small stores bound to single objects.
class CWeakTypeList : public IWeakTypeStorage {
 public:
  struct SEntry {
    SEntry* next;
    SEntry* previous;
    SWeakTypeEntryValue entry;
    uint32_t key;
  };

  CWeakTypeList(uint32_t id, uint32_t kind) : IWeakTypeStorage(id, kind) {}
  ~CWeakTypeList() override { Clear(); }

  uint32_t GetKey(const TlxSprigValue* value) const override;
  bool Contains(uint32_t id) const override { return FindEntry(id) != nullptr; }
  void Remove(uint32_t id) override;
  void Clear() override;
  TlxSprigValue* GetOrCreate(uint32_t id) override;
  uint64_t GetCount() const override { return m_count; }
  TlxSprigValue* Find(uint32_t id) const override;

  using IWeakTypeStorage::Contains;
  using IWeakTypeStorage::GetOrCreate;
  using IWeakTypeStorage::Remove;

  // Visits (key, value) in creation order until visit returns false.
  template <typename F>
  bool Walk(F&& visit) const {
    for (SEntry* entry = m_head; entry != nullptr; entry = entry->next) {
      if (!visit(entry->key, &entry->entry.value)) return false;
    }
    return true;
  }

 private:
  SEntry* FindEntry(uint32_t id) const;

  SEntry* m_head = nullptr;
  SEntry* m_tail = nullptr;
  uint64_t m_count = 0;
};

}  // namespace Bravik
