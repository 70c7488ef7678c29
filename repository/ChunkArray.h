// Item pools of a region. TChunkArray holds items of one kind in fixed-size chunks that never
// move, so handles stay valid while the pool grows; released slots are reused (newest first)
// before the pool grows. TRecordPool keeps runs of plain records (member records, feature
// hashes) contiguous, so a type can hand out a pointer to its records.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"

namespace Quorin {

struct RepositoryIndex;

// The untyped part of TChunkArray. It needs no complete item type, so a Region can hold pools of
// kinds that other units define: the typed entry points record the item size and how to destroy
// and unlink an item the first time they store one.
class CChunkStore {
 public:
  using DestroyFunction = void (*)(void* item);
  using UnlinkFunction = void (*)(void* item, RepositoryIndex& index);

  CChunkStore() = default;
  CChunkStore(const CChunkStore&) = delete;
  CChunkStore& operator=(const CChunkStore&) = delete;
  ~CChunkStore() { Clear(); }

  // Slots handed out so far in pool order, stored or released.
  uint64_t SlotCount() const { return m_count; }
  // Items stored now.
  uint64_t LiveCount() const { return m_live; }
  // Slots in the chunks allocated so far.
  uint64_t Capacity() const { return m_chunks.Count() * m_perChunk; }

  // Erases every stored item's own node from the index (the items stay stored).
  void UnlinkAll(RepositoryIndex& index);
  // Destroys every stored item and gives every chunk back; the pool stays usable.
  void Clear();

 protected:
  void SetLayout(uint32_t itemSize, uint32_t alignment, uint32_t perChunk, DestroyFunction destroy,
                 UnlinkFunction unlink);
  bool IsConfigured() const { return m_stride != 0; }
  uint8_t* SlotAt(uint64_t index) const {
    return m_chunks[index / m_perChunk] + (index % m_perChunk) * m_stride;
  }
  // A slot for a new item: the head of the free list, else the next slot at the end (a new chunk
  // when the last is full). Raises std::bad_alloc with the pool unchanged.
  uint8_t* TakeSlot();
  // Visits every slot handed out so far, in pool order, chunk by chunk (no division per slot);
  // visit(slot) returns false to stop. False when it stopped early.
  template <typename F>
  bool ForEachSlot(F&& visit) const {
    uint64_t left = m_count;
    for (uint64_t c = 0; left != 0; ++c) {
      uint8_t* slot = m_chunks[c];
      for (uint32_t i = 0; i < m_perChunk && left != 0; ++i, --left, slot += m_stride) {
        if (!visit(slot)) return false;
      }
    }
    return true;
  }
  // Puts a slot on the head of the free list (its item is already destroyed or never was).
  void PutBack(uint8_t* slot);
  void MarkStored(uint8_t* slot) {
    slot[m_itemSize] = 1;
    ++m_live;
  }
  bool IsStored(const uint8_t* slot) const { return slot[m_itemSize] != 0; }

  // Each slot: the item's bytes, one "stored" byte, padding to the item's alignment.
  uint32_t m_itemSize = 0;
  uint32_t m_stride = 0;
  uint32_t m_perChunk = 1;
  uint32_t m_pool = Bravik::Memory::kPool8;
  DestroyFunction m_destroy = nullptr;
  UnlinkFunction m_unlink = nullptr;
  Bravik::TArray<uint8_t*> m_chunks;
  uint64_t m_count = 0;
  uint64_t m_live = 0;
  uint8_t* m_freeHead = nullptr;  // released slots, linked through their first 8 bytes
  uint8_t* m_end = nullptr;       // the next unused slot of the last chunk
  uint32_t m_endLeft = 0;         // unused slots from m_end on
};

// A pool of items of type T, ItemsPerChunk to a chunk. T must provide
// `void EraseFromIndex(RepositoryIndex&)` (see TRepositoryItem).
template <typename T, uint32_t ItemsPerChunk>
class TChunkArray : public CChunkStore {
  static_assert(ItemsPerChunk > 0);

 public:
  static constexpr uint32_t kItemsPerChunk = ItemsPerChunk;

  // Constructs an item in a released slot (newest first) or at the end. If the constructor
  // throws, the slot goes back to the free list and the exception propagates.
  template <typename... Args>
  T* Emplace(Args&&... args) {
    static_assert(sizeof(T) >= sizeof(void*), "a released slot holds the free-list link");
    if (!IsConfigured()) {
      SetLayout(sizeof(T), alignof(T), ItemsPerChunk, &DestroyItem, &UnlinkItem);
    }
    uint8_t* slot = TakeSlot();
    T* item;
    try {
      item = ::new (static_cast<void*>(slot)) T(std::forward<Args>(args)...);
    } catch (...) {
      PutBack(slot);
      throw;
    }
    MarkStored(slot);
    return item;
  }

  // Destroys a stored item of this pool and puts its slot at the head of the free list. The
  // caller has already erased the item from its tree.
  void Release(T* item) {
    uint8_t* slot = reinterpret_cast<uint8_t*>(item);
    item->~T();
    slot[m_itemSize] = 0;
    --m_live;
    PutBack(slot);
  }

  // The item in slot index (pool order), or null for a released or unused slot.
  T* At(uint64_t index) const {
    if (index >= m_count) return nullptr;
    uint8_t* slot = SlotAt(index);
    return IsStored(slot) ? std::launder(reinterpret_cast<T*>(slot)) : nullptr;
  }

  // Visits the stored items in pool order (creation order; a reused slot keeps its place) until
  // visit(T&) returns false; returns false when it stopped early. The visitor may release the
  // item it is given.
  template <typename F>
  bool Walk(F&& visit) const {
    return ForEachSlot([&](uint8_t* slot) {
      return !IsStored(slot) || visit(*std::launder(reinterpret_cast<T*>(slot)));
    });
  }

 private:
  static void DestroyItem(void* item) { static_cast<T*>(item)->~T(); }
  static void UnlinkItem(void* item, RepositoryIndex& index) {
    static_cast<T*>(item)->EraseFromIndex(index);
  }
};

// Contiguous runs of plain records in chunks of at least RecordsPerChunk. Records are numbered
// across the pool in the order they were appended.
template <typename T, uint32_t RecordsPerChunk>
class TRecordPool {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TRecordPool() = default;
  TRecordPool(const TRecordPool&) = delete;
  TRecordPool& operator=(const TRecordPool&) = delete;
  ~TRecordPool() { Clear(); }

  // Copies count records into one run and returns it (null for count 0); firstIndex receives
  // the pool-wide number of its first record. Raises std::bad_alloc with the pool unchanged.
  T* Append(const T* records, uint32_t count, uint32_t& firstIndex) {
    firstIndex = static_cast<uint32_t>(m_count);
    if (count == 0) return nullptr;
    if (m_chunks.IsEmpty() || m_chunks[m_chunks.Count() - 1].capacity - m_chunks[m_chunks.Count() - 1].used < count) {
      AddChunk(count > RecordsPerChunk ? count : RecordsPerChunk);
    }
    Chunk& chunk = m_chunks[m_chunks.Count() - 1];
    T* run = chunk.records + chunk.used;
    std::memcpy(static_cast<void*>(run), records, sizeof(T) * count);
    chunk.used += count;
    m_count += count;
    return run;
  }

  uint64_t Count() const { return m_count; }

  void Clear() {
    for (Chunk& chunk : m_chunks) Bravik::Memory::Free(chunk.records);
    m_chunks.Free();
    m_count = 0;
  }

 private:
  struct Chunk {
    T* records;
    uint64_t used;
    uint64_t capacity;
  };

  void AddChunk(uint64_t capacity) {
    void* block = Bravik::Memory::Allocate(capacity * sizeof(T),
                                           Bravik::Memory::PoolForAlignment(alignof(T)));
    try {
      m_chunks.Append(Chunk{static_cast<T*>(block), 0, capacity});
    } catch (...) {
      Bravik::Memory::Free(block);
      throw;
    }
  }

  Bravik::TArray<Chunk> m_chunks;
  uint64_t m_count = 0;
};

}  // namespace Quorin
