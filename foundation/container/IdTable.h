// TIdTable: 64 buckets of (id, value) pairs, each bucket a TArray scanned in insertion order. Used
// where a handful to a few hundred ids map to pointers or small values (regions, namespaces,
// variables, bound functions).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "foundation/container/Array.h"

namespace Bravik {

// The key padded to 8 bytes, then the value: 16 bytes for a pointer, 24 for a 16-byte value.
template <typename K, typename V>
struct TIdPair {
  static_assert(alignof(V) <= 8, "values are stored 8 bytes after the key");
  K key;
  alignas(8) V value;
};

static_assert(sizeof(TIdPair<uint32_t, void*>) == 16);
static_assert(sizeof(TIdPair<uint16_t, void*>) == 16);

template <typename K, typename V, uint32_t Pool = DefaultArrayPool<TIdPair<K, V>>()>
class TIdTable {
  static_assert(std::is_same_v<K, uint16_t> || std::is_same_v<K, uint32_t>,
                "tables are keyed by 16- or 32-bit ids");

 public:
  using Pair = TIdPair<K, V>;
  using Bucket = TArray<Pair, Pool>;
  static constexpr uint32_t kBucketCount = 64;

  static_assert(sizeof(Pair) == 8 + (sizeof(V) + 7) / 8 * 8);

  TIdTable() = default;
  TIdTable(const TIdTable&) = delete;
  TIdTable& operator=(const TIdTable&) = delete;

  // Two operations mix the high bits into the low six.
  static constexpr uint32_t BucketOf(K key) {
    return (static_cast<uint32_t>(key >> 6) ^ key) & (kBucketCount - 1);
  }

  // The value of the first pair added with this key, or null.
  V* Lookup(K key) { return const_cast<V*>(std::as_const(*this).Lookup(key)); }
  const V* Lookup(K key) const {
    for (const Pair& pair : m_buckets[BucketOf(key)]) {
      if (pair.key == key) return &pair.value;
    }
    return nullptr;
  }

  // Appends the pair without looking for the key (callers look up first); raises std::bad_alloc
  // with the table unchanged when the bucket cannot grow.
  V& Add(K key, const V& value) { return m_buckets[BucketOf(key)].Append(Pair{key, value}).value; }

  // Removes the first pair with this key; false when there is none.
  bool Remove(K key) {
    Bucket& bucket = m_buckets[BucketOf(key)];
    for (uint64_t i = 0; i < bucket.Count(); ++i) {
      if (bucket[i].key == key) {
        bucket.RemoveAt(i);
        return true;
      }
    }
    return false;
  }

  uint64_t Count() const {
    uint64_t total = 0;
    for (const Bucket& bucket : m_buckets) total += bucket.Count();
    return total;
  }

  const Bucket& GetBucket(uint32_t index) const { return m_buckets[index]; }

  // Visits every pair, bucket 0 to 63 and in insertion order within a bucket, until
  // visit(key, value) returns false; returns false when it stopped early. The visitor must not
  // add or remove pairs.
  template <typename F>
  bool Walk(F&& visit) {
    for (Bucket& bucket : m_buckets) {
      for (Pair& pair : bucket) {
        if (!visit(pair.key, pair.value)) return false;
      }
    }
    return true;
  }

  // Like Walk, in ascending key order (equal keys in insertion order). Collects the pairs first,
  // so it may raise std::bad_alloc before visiting anything.
  template <typename F>
  bool WalkAscending(F&& visit) {
    TArray<Pair*, Pool> sorted;
    const uint64_t total = Count();
    if (total == 0) return true;
    sorted.Reserve(total);
    for (Bucket& bucket : m_buckets) {
      for (Pair& pair : bucket) sorted.Append(&pair);
    }
    // Equal keys share a bucket, where addresses follow insertion order.
    std::sort(sorted.begin(), sorted.end(), [](const Pair* a, const Pair* b) {
      return a->key != b->key ? a->key < b->key : std::less<const Pair*>()(a, b);
    });
    for (Pair* pair : sorted) {
      if (!visit(pair->key, pair->value)) return false;
    }
    return true;
  }

  // Gives every bucket block back; the table stays usable.
  void Free() {
    for (Bucket& bucket : m_buckets) bucket.Free();
  }

 private:
  Bucket m_buckets[kBucketCount];
};

}  // namespace Bravik
