// Intrusive red-black trees keyed by 16- or 32-bit ids. Stored items derive from TMapElement, so
// an item is its own node: linking it allocates nothing. Erasing relinks nodes and never moves
// keys or payloads between them, because the payload is the rest of the owning object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Bravik {

constexpr uint8_t kMapBlack = 0;
constexpr uint8_t kMapRed = 1;

// The node part of a stored item. The node may sit anywhere inside its owner; tree code works on
// node pointers and the owner converts with static_cast.
template <typename K>
struct TMapElement {
  static_assert(std::is_same_v<K, uint16_t> || std::is_same_v<K, uint32_t>,
                "trees are keyed by 16- or 32-bit ids");

  TMapElement* parent = nullptr;  // null at the root
  TMapElement* left = nullptr;
  TMapElement* right = nullptr;
  K key = 0;
  uint8_t colour = kMapBlack;  // kMapRed or kMapBlack, directly after the key
};

static_assert(offsetof(TMapElement<uint32_t>, key) == 3 * sizeof(void*));
static_assert(offsetof(TMapElement<uint32_t>, colour) == 3 * sizeof(void*) + 4);
static_assert(offsetof(TMapElement<uint16_t>, colour) == 3 * sizeof(void*) + 2);

// One tree: the header is the root and the node count. Keys may repeat; nodes with equal keys
// stay in insertion order, so FindFirst + NextSameKey enumerate them oldest first.
template <typename K>
struct TMapTree {
  using Node = TMapElement<K>;

  Node* root = nullptr;
  uint64_t count = 0;
  // The node with the greatest key (the last of equals): ids mostly arrive in ascending order,
  // and linking under it skips the descent.
  Node* last = nullptr;

  // Some node with this key (not necessarily the first of several), or null.
  Node* Find(K key) const;
  // The first node in order with this key, or null.
  Node* FindFirst(K key) const;
  // The first node in order whose key is not less than key, or null.
  Node* LowerBound(K key) const;

  // Links node under key (an equal key goes after the ones present); duplicates are not refused,
  // so callers that want unique keys test with Find first.
  void Insert(Node* node, K key);
  // Unlinks this very node (never a search by key) and clears its links; the owner frees it.
  void Erase(Node* node);

  Node* First() const;
  Node* Last() const { return last; }
  static Node* Next(const Node* node);
  static Node* Prev(const Node* node);
  // The next node in order when it has the same key, else null.
  static Node* NextSameKey(const Node* node);

  // Visits the nodes in ascending key order until visit(node) returns false; returns false when it
  // stopped early. The visitor may erase the node it is given, and no other.
  template <typename F>
  bool Walk(F&& visit) const {
    Node* node = First();
    while (node != nullptr) {
      Node* next = Next(node);
      if (!visit(node)) return false;
      node = next;
    }
    return true;
  }

  // Ascending iteration for range-for; the tree must not change while it runs.
  class Iterator {
   public:
    explicit Iterator(Node* node) : m_node(node) {}
    Node* operator*() const { return m_node; }
    Iterator& operator++() {
      m_node = Next(m_node);
      return *this;
    }
    bool operator==(const Iterator&) const = default;

   private:
    Node* m_node;
  };
  Iterator begin() const { return Iterator(First()); }
  Iterator end() const { return Iterator(nullptr); }

 private:
  void ReplaceChild(Node* parent, Node* old, Node* replacement);
  void Rotate(Node* node, bool toLeft);
  void InsertFixup(Node* node);
  void EraseFixup(Node* node, Node* parent);
};

// The tree code exists once per key width, in MapTree.cpp.
extern template struct TMapTree<uint16_t>;
extern template struct TMapTree<uint32_t>;

static_assert(sizeof(TMapTree<uint32_t>) == 2 * sizeof(void*) + 8);
static_assert(offsetof(TMapTree<uint16_t>, count) == sizeof(void*));

}  // namespace Bravik
