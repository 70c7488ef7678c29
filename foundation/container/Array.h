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
  explicit TArray(uint64_t step) : step_(step) {}
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
    if (capacity != 0 && capacity == capacity_) return;
    const uint64_t wanted = capacity != 0 ? capacity : 1;
    data_ = static_cast<T*>(ResizeArrayBlock(data_, wanted, sizeof(T), Pool));
    capacity_ = wanted;
    if (count_ > wanted) count_ = wanted;
  }

  // Stores a copy of value at the end, growing by the step (or doubling) when full. value may be
  // an element of this array. On failure the array is unchanged.
  T& Append(const T& value) {
    const T copy = value;  // value may live in the block that growth moves
    if (count_ == capacity_) Reserve(step_ != 0 ? capacity_ + step_ : capacity_ * 2);
    T* slot = ::new (static_cast<void*>(data_ + count_)) T(copy);
    ++count_;
    return *slot;
  }

  // Removes the element at index (< Count()) and closes the gap, keeping the order of the rest.
  void RemoveAt(uint64_t index) {
    std::memmove(static_cast<void*>(data_ + index), data_ + index + 1,
                 (count_ - index - 1) * sizeof(T));
    --count_;
  }

  // Forgets the elements and keeps the block.
  void Clear() { count_ = 0; }

  // Hands the block to the caller, who frees it with Memory::Free; the array becomes empty.
  T* Release() {
    T* data = data_;
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    return data;
  }

  // Gives the block back; the step stays.
  void Free() {
    Memory::Free(data_);
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

  T& operator[](uint64_t index) { return data_[index]; }
  const T& operator[](uint64_t index) const { return data_[index]; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }
  uint64_t Count() const { return count_; }
  uint64_t Capacity() const { return capacity_; }
  uint64_t Step() const { return step_; }
  void SetStep(uint64_t step) { step_ = step; }
  bool IsEmpty() const { return count_ == 0; }

  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

 private:
  void Take(TArray& other) {
    data_ = other.data_;
    count_ = other.count_;
    capacity_ = other.capacity_;
    step_ = other.step_;
    other.data_ = nullptr;
    other.count_ = 0;
    other.capacity_ = 0;
  }

  T* data_ = nullptr;  // null while the capacity is 0
  uint64_t count_ = 0;
  uint64_t capacity_ = 0;
  uint64_t step_ = 0;
};

static_assert(sizeof(TArray<char>) == sizeof(void*) + 3 * 8);

}  // namespace Bravik
