// TArray: a growable array in one block of the library allocator. Elements must be trivially
// copyable (pairs, pointers, small records): growing moves them with the block, and nothing runs
// a constructor or destructor on them.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "foundation/memory/Memory.h"

namespace Bravik {

// Gives a block for capacity elements of elementSize bytes: block reallocated, or a new one when
// block is null. Raises std::bad_alloc, block untouched, on size overflow or lack of memory.
void* ResizeArrayBlock(void* block, uint64_t capacity, uint64_t elementSize, uint32_t pool);

// The object pool hands out blocks above 1024 bytes at any byte address, so elements that need
// alignment default to the aligned pool that covers them.
template <typename T>
constexpr uint32_t DefaultArrayPool() {
  if constexpr (alignof(T) == 1) return Memory::kObjectPool;
  if constexpr (alignof(T) <= 8) return Memory::kPool8;
  static_assert(alignof(T) <= 16, "no pool aligns beyond 16 bytes");
  return Memory::kPool16;
}

template <typename T, uint32_t Pool = DefaultArrayPool<T>()>
class TArray {
  static_assert(std::is_trivially_copyable_v<T>, "TArray moves its elements as raw bytes");

 public:
  TArray() = default;
  // step: elements added per growth; 0 doubles the capacity.
  explicit TArray(uint64_t step) : m_step(step) {}
  ~TArray() { Free(); }

  TArray(const TArray&) = delete;
  TArray& operator=(const TArray&) = delete;
  TArray(TArray&& other) noexcept { Take(other); }
  TArray& operator=(TArray&& other) noexcept {
    if (this != &other) {
      Free();
      Take(other);
    }
    return *this;
  }

  // Sets the capacity to max(capacity, 1) and clips the count to it; nothing happens when the
  // capacity already is that non-zero value. On failure the array is unchanged.
  void Reserve(uint64_t capacity) {
    if (capacity != 0 && capacity == m_capacity) return;
    const uint64_t wanted = capacity != 0 ? capacity : 1;
    m_data = static_cast<T*>(ResizeArrayBlock(m_data, wanted, sizeof(T), Pool));
    m_capacity = wanted;
    if (m_count > wanted) m_count = wanted;
  }

  // Stores a copy of value at the end, growing by the step (or doubling) when full. value may be
  // an element of this array. On failure the array is unchanged.
  T& Append(const T& value) {
    const T copy = value;  // value may live in the block that growth moves
    if (m_count == m_capacity) Reserve(m_step != 0 ? m_capacity + m_step : m_capacity * 2);
    T* slot = ::new (static_cast<void*>(m_data + m_count)) T(copy);
    ++m_count;
    return *slot;
  }

  // Removes the element at index (< Count()) and closes the gap, keeping the order of the rest.
  void RemoveAt(uint64_t index) {
    std::memmove(static_cast<void*>(m_data + index), m_data + index + 1,
                 (m_count - index - 1) * sizeof(T));
    --m_count;
  }

  // Forgets the elements and keeps the block.
  void Clear() { m_count = 0; }

  // Hands the block to the caller, who frees it with Memory::Free; the array becomes empty.
  T* Release() {
    T* data = m_data;
    m_data = nullptr;
    m_count = 0;
    m_capacity = 0;
    return data;
  }

  // Gives the block back; the step stays.
  void Free() {
    Memory::Free(m_data);
    m_data = nullptr;
    m_count = 0;
    m_capacity = 0;
  }

  T& operator[](uint64_t index) { return m_data[index]; }
  const T& operator[](uint64_t index) const { return m_data[index]; }
  T* Data() { return m_data; }
  const T* Data() const { return m_data; }
  uint64_t Count() const { return m_count; }
  uint64_t Capacity() const { return m_capacity; }
  uint64_t Step() const { return m_step; }
  void SetStep(uint64_t step) { m_step = step; }
  bool IsEmpty() const { return m_count == 0; }

  T* begin() { return m_data; }
  T* end() { return m_data + m_count; }
  const T* begin() const { return m_data; }
  const T* end() const { return m_data + m_count; }

 private:
  void Take(TArray& other) {
    m_data = other.m_data;
    m_count = other.m_count;
    m_capacity = other.m_capacity;
    m_step = other.m_step;
    other.m_data = nullptr;
    other.m_count = 0;
    other.m_capacity = 0;
  }

  T* m_data = nullptr;  // null while the capacity is 0
  uint64_t m_count = 0;
  uint64_t m_capacity = 0;
  uint64_t m_step = 0;
};

static_assert(sizeof(TArray<char>) == sizeof(void*) + 3 * 8);

}  // namespace Bravik
