// The progress of one export or import: a counter and a total, written by the worker and read
// by the host from another thread without a lock (a momentarily stale value is fine).
#pragma once

#include <atomic>

namespace Quorin {

class CInterchangeProgress {
 public:
  void Begin(float total) {
    m_counter.store(0.0f, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
  }
  void SetCounter(float counter) { m_counter.store(counter, std::memory_order_relaxed); }
  void Finish() { SetCounter(GetTotal()); }

  float GetCounter() const { return m_counter.load(std::memory_order_relaxed); }
  float GetTotal() const { return m_total.load(std::memory_order_relaxed); }

 private:
  std::atomic<float> m_counter{0.0f};
  std::atomic<float> m_total{0.0f};
};

}  // namespace Quorin
