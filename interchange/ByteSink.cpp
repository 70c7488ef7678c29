#include "interchange/ByteSink.h"

#include <cstring>

#include "foundation/memory/Memory.h"

namespace Quorin {

CBufferedOutput::CBufferedOutput(IByteSink& sink, size_t capacity)
    : m_sink(sink),
      m_block(static_cast<char*>(Bravik::Memory::Allocate(capacity, Bravik::Memory::kObjectPool))),
      m_capacity(capacity) {}

CBufferedOutput::~CBufferedOutput() { Bravik::Memory::Free(m_block); }

void CBufferedOutput::Drain() {
  if (m_used == 0) return;
  const size_t used = m_used;
  m_used = 0;  // a sink that raises has the block dropped, not offered twice
  m_sink.Write(m_block, used);
  m_drained += used;
}

void CBufferedOutput::Append(const void* bytes, size_t count) {
  if (count <= m_capacity - m_used) {
    std::memcpy(m_block + m_used, bytes, count);
    m_used += count;
    return;
  }
  Drain();
  if (count >= m_capacity) {
    m_sink.Write(bytes, count);
    m_drained += count;
    return;
  }
  std::memcpy(m_block, bytes, count);
  m_used = count;
}

}  // namespace Quorin
