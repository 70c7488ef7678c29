// Where the writers put their bytes: a sink takes large blocks (a file, or memory in tests), and
// a buffered output gathers the many small pieces of a written line into those blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Quorin {

class IByteSink {
 public:
  // Takes count bytes; a failure raises (the file layer's exception, std::bad_alloc).
  virtual void Write(const void* bytes, size_t count) = 0;

 protected:
  ~IByteSink() = default;
};

// One block of the library allocator, handed to the sink whenever it fills and at Flush. Pieces
// larger than the block go to the sink directly. Raises what the sink raises.
class CBufferedOutput {
 public:
  // Large enough that the file system sees few writes: each costs it far more than its bytes.
  static constexpr size_t kDefaultCapacity = 1024 * 1024;

  // Raises std::bad_alloc.
  explicit CBufferedOutput(IByteSink& sink, size_t capacity = kDefaultCapacity);
  // Frees the block; bytes not flushed are dropped.
  ~CBufferedOutput();
  CBufferedOutput(const CBufferedOutput&) = delete;
  CBufferedOutput& operator=(const CBufferedOutput&) = delete;

  // Room for count bytes (count at most the capacity): where to write them, ended by Commit.
  char* Reserve(size_t count) {
    if (m_capacity - m_used < count) Drain();
    return m_block + m_used;
  }
  // Takes what was written from the last Reserve up to end.
  void Commit(const char* end) { m_used = static_cast<size_t>(end - m_block); }

  void Append(const void* bytes, size_t count);
  template <size_t N>
  void Append(const char (&literal)[N]) {
    Append(literal, N - 1);
  }
  void AppendString(const char* text) { Append(text, std::strlen(text)); }
  // Hands everything gathered to the sink.
  void Flush() { Drain(); }

  uint64_t GetBytesWritten() const { return m_drained + m_used; }
  size_t GetCapacity() const { return m_capacity; }

 private:
  void Drain();

  IByteSink& m_sink;
  char* m_block;
  size_t m_capacity;
  size_t m_used = 0;
  uint64_t m_drained = 0;
};

}  // namespace Quorin
