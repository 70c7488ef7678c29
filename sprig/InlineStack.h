// A stack that keeps its first N elements inside itself and grows into one block of the library
// allocator beyond, so that ordinary expressions parse and evaluate without allocating for it.
// Elements are moved as raw bytes (trivially copyable) and never destroyed.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"

namespace Quorin::Sprig {

template <typename T, uint32_t N>
class TInlineStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TInlineStack() = default;
  ~TInlineStack() {
    if (m_data != m_inline) Bravik::Memory::Free(m_data);
  }
  TInlineStack(const TInlineStack&) = delete;
  TInlineStack& operator=(const TInlineStack&) = delete;

  // Raises std::bad_alloc, the stack unchanged, when it cannot grow.
  T& Push(const T& element) {
    if (m_count == m_capacity) Grow();
    m_data[m_count] = element;
    return m_data[m_count++];
  }
  void Drop(uint64_t count) { m_count -= count; }
  void Truncate(uint64_t count) { m_count = count < m_count ? count : m_count; }
  T& Top(uint64_t below = 0) { return m_data[m_count - 1 - below]; }
  const T& Top(uint64_t below = 0) const { return m_data[m_count - 1 - below]; }
  T& operator[](uint64_t index) { return m_data[index]; }
  const T& operator[](uint64_t index) const { return m_data[index]; }
  uint64_t Count() const { return m_count; }
  bool IsEmpty() const { return m_count == 0; }
  T* begin() { return m_data; }
  T* end() { return m_data + m_count; }

 private:
  void Grow() {
    T* grown = static_cast<T*>(Bravik::Memory::Allocate(sizeof(T) * m_capacity * 2,
                                                        Bravik::DefaultArrayPool<T>()));
    std::memcpy(static_cast<void*>(grown), m_data, sizeof(T) * m_count);
    if (m_data != m_inline) Bravik::Memory::Free(m_data);
    m_data = grown;
    m_capacity *= 2;
  }

  T m_inline[N];
  T* m_data = m_inline;
  uint64_t m_count = 0;
  uint64_t m_capacity = N;
};

}  // namespace Quorin::Sprig
