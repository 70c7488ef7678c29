#include "foundation/container/MapTree.h"

namespace Bravik {

namespace {

template <typename Node>
bool IsRed(const Node* node) {
  return node != nullptr && node->colour == kMapRed;
}

template <typename Node>
Node* Leftmost(Node* node) {
  while (node->left != nullptr) node = node->left;
  return node;
}

template <typename Node>
Node* Rightmost(Node* node) {
  while (node->right != nullptr) node = node->right;
  return node;
}

}  // namespace

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::Find(K key) const {
  // Ids mostly arrive in ascending order: a new one lies past the greatest and needs no descent.
  if (last == nullptr || key > last->key) return nullptr;
  if (key == last->key) return last;
  Node* node = root;
  while (node != nullptr && node->key != key) node = (node->key > key) ? node->left : node->right;
  return node;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::LowerBound(K key) const {
  // Equal keys may sit on both sides of a node after rotations, so keep descending left past
  // every candidate.
  Node* found = nullptr;
  for (Node* node = root; node != nullptr;) {
    if (node->key < key) {
      node = node->right;
    } else {
      found = node;
      node = node->left;
    }
  }
  return found;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::FindFirst(K key) const {
  Node* node = LowerBound(key);
  return (node != nullptr && node->key == key) ? node : nullptr;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::First() const {
  return root != nullptr ? Leftmost(root) : nullptr;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::Next(const Node* node) {
  if (node->right != nullptr) return Leftmost(node->right);
  while (node->parent != nullptr && node == node->parent->right) node = node->parent;
  return node->parent;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::Prev(const Node* node) {
  if (node->left != nullptr) return Rightmost(node->left);
  while (node->parent != nullptr && node == node->parent->left) node = node->parent;
  return node->parent;
}

template <typename K>
typename TMapTree<K>::Node* TMapTree<K>::NextSameKey(const Node* node) {
  Node* next = Next(node);
  return (next != nullptr && next->key == node->key) ? next : nullptr;
}

// Puts replacement (possibly null) where old hung under parent, or at the root.
template <typename K>
void TMapTree<K>::ReplaceChild(Node* parent, Node* old, Node* replacement) {
  if (parent == nullptr) {
    root = replacement;
  } else if (parent->left == old) {
    parent->left = replacement;
  } else {
    parent->right = replacement;
  }
  if (replacement != nullptr) replacement->parent = parent;
}

// toLeft: the right child rises into node's place and node becomes its left child.
template <typename K>
void TMapTree<K>::Rotate(Node* node, bool toLeft) {
  Node* Node::*rising = toLeft ? &Node::right : &Node::left;
  Node* Node::*sinking = toLeft ? &Node::left : &Node::right;
  Node* child = node->*rising;
  Node* inner = child->*sinking;
  node->*rising = inner;
  if (inner != nullptr) inner->parent = node;
  ReplaceChild(node->parent, node, child);
  child->*sinking = node;
  node->parent = child;
}

template <typename K>
void TMapTree<K>::Insert(Node* node, K key) {
  node->key = key;
  node->colour = kMapRed;
  node->left = nullptr;
  node->right = nullptr;
  Node* parent = nullptr;
  Node** link = &root;
  if (last == nullptr || !(key < last->key)) {
    // The greatest node has no right child: the new one goes there and becomes the greatest.
    parent = last;
    link = last != nullptr ? &last->right : &root;
    last = node;
  } else {
    while (*link != nullptr) {
      parent = *link;
      link = (key < parent->key) ? &parent->left : &parent->right;
    }
  }
  node->parent = parent;
  *link = node;
  InsertFixup(node);
  ++count;
}

template <typename K>
void TMapTree<K>::InsertFixup(Node* node) {
  while (IsRed(node->parent)) {
    Node* parent = node->parent;
    Node* grand = parent->parent;  // exists: a red node is never the root
    const bool parentIsLeft = parent == grand->left;
    Node* uncle = parentIsLeft ? grand->right : grand->left;
    if (IsRed(uncle)) {
      parent->colour = kMapBlack;
      uncle->colour = kMapBlack;
      grand->colour = kMapRed;
      node = grand;
      continue;
    }
    if (node == (parentIsLeft ? parent->right : parent->left)) {
      // Inner grandchild: turn it outward first.
      Rotate(parent, parentIsLeft);
      node = parent;
      parent = node->parent;
    }
    parent->colour = kMapBlack;
    grand->colour = kMapRed;
    Rotate(grand, !parentIsLeft);
  }
  root->colour = kMapBlack;
}

template <typename K>
void TMapTree<K>::Erase(Node* node) {
  if (node == last) last = Prev(node);
  uint8_t removedColour = node->colour;
  Node* child;        // what moves into the place that lost a node (may be null)
  Node* childParent;  // its parent afterwards, needed when child is null
  if (node->left == nullptr || node->right == nullptr) {
    child = node->left != nullptr ? node->left : node->right;
    childParent = node->parent;
    ReplaceChild(node->parent, node, child);
  } else {
    // The successor leaves its own place and takes over node's place, links and colour.
    Node* successor = Leftmost(node->right);
    removedColour = successor->colour;
    child = successor->right;
    if (successor->parent == node) {
      childParent = successor;
    } else {
      childParent = successor->parent;
      ReplaceChild(successor->parent, successor, child);
      successor->right = node->right;
      successor->right->parent = successor;
    }
    ReplaceChild(node->parent, node, successor);
    successor->left = node->left;
    successor->left->parent = successor;
    successor->colour = node->colour;
  }
  if (removedColour == kMapBlack) EraseFixup(child, childParent);
  node->parent = nullptr;
  node->left = nullptr;
  node->right = nullptr;
  --count;
}

// node carries an extra black; push it up or absorb it by recolouring and rotating.
template <typename K>
void TMapTree<K>::EraseFixup(Node* node, Node* parent) {
  while (node != root && !IsRed(node)) {
    // A null node is on the side whose child is null: its sibling cannot be null.
    const bool isLeft = node == parent->left;
    Node* Node::*nearSide = isLeft ? &Node::left : &Node::right;
    Node* Node::*farSide = isLeft ? &Node::right : &Node::left;
    Node* sibling = parent->*farSide;
    if (IsRed(sibling)) {
      sibling->colour = kMapBlack;
      parent->colour = kMapRed;
      Rotate(parent, isLeft);
      sibling = parent->*farSide;
    }
    if (!IsRed(sibling->*nearSide) && !IsRed(sibling->*farSide)) {
      sibling->colour = kMapRed;
      node = parent;
      parent = node->parent;
      continue;
    }
    if (!IsRed(sibling->*farSide)) {
      (sibling->*nearSide)->colour = kMapBlack;
      sibling->colour = kMapRed;
      Rotate(sibling, !isLeft);
      sibling = parent->*farSide;
    }
    sibling->colour = parent->colour;
    parent->colour = kMapBlack;
    (sibling->*farSide)->colour = kMapBlack;
    Rotate(parent, isLeft);
    node = root;
  }
  if (node != nullptr) node->colour = kMapBlack;
}

template struct TMapTree<uint16_t>;
template struct TMapTree<uint32_t>;

}  // namespace Bravik
