// The intrusive red-black tree: relinking on erase, walks, and a differential run against
// std::multimap (order, repeated keys, bounds) with the red-black invariants checked every step.
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/container/MapTree.h"

namespace {

using Bravik::kMapBlack;
using Bravik::kMapRed;
using Bravik::TMapElement;
using Bravik::TMapTree;

// The node sits behind another base (at a non-zero offset), as in the library's item classes.
struct Tag {
  uint64_t serial = 0;
};
template <typename K>
struct Item : Tag, TMapElement<K> {
  typename std::multimap<K, Item*>::iterator mirror;
};

// Black height of a subtree, or -1 with the broken rule in why. Plain comparisons: this runs on
// every node after every step.
template <typename K>
int CheckSubtree(const TMapElement<K>* node, const TMapElement<K>* parent, uint64_t& nodes, const char*& why) {
  if (node == nullptr) return 1;
  ++nodes;
  if (node->parent != parent) why = "parent link";
  if (node->left != nullptr && node->left->key > node->key) why = "left key greater";
  if (node->right != nullptr && node->right->key < node->key) why = "right key smaller";
  const auto red = [](const TMapElement<K>* n) { return n != nullptr && n->colour == kMapRed; };
  if (node->colour != kMapRed && node->colour != kMapBlack) why = "colour value";
  if (red(node) && (red(node->left) || red(node->right))) why = "red node with red child";
  const int left = CheckSubtree(node->left, node, nodes, why), right = CheckSubtree(node->right, node, nodes, why);
  if (left != right) why = "black heights differ";
  return why != nullptr ? -1 : left + (node->colour == kMapBlack ? 1 : 0);
}

template <typename K>
::testing::AssertionResult TreeIsValid(const TMapTree<K>& tree) {
  const char* why = nullptr;
  if (tree.root != nullptr && (tree.root->parent != nullptr || tree.root->colour != kMapBlack)) why = "root";
  uint64_t nodes = 0;
  CheckSubtree<K>(tree.root, nullptr, nodes, why);
  if (why == nullptr && nodes != tree.count) why = "count differs from nodes";
  return why == nullptr ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << why;
}

TEST(MapTree, ErasedNodeWithTwoChildrenIsReplacedByItsSuccessorObject) {
  TMapTree<uint16_t> empty;
  EXPECT_TRUE(empty.First() == nullptr && empty.LowerBound(0) == nullptr && empty.begin() == empty.end());
  Item<uint16_t> items[3];
  TMapTree<uint16_t> tree;
  for (uint16_t i = 0; i < 3; ++i) tree.Insert(&items[i], static_cast<uint16_t>(i + 1));
  tree.Erase(&items[1]);
  // Nodes are relinked, keys stay with their owners, the erased node is unlinked.
  EXPECT_EQ(tree.root, &items[2]);
  EXPECT_EQ(items[2].key, 3u);
  EXPECT_EQ(items[2].left, &items[0]);
  EXPECT_EQ(items[0].parent, &items[2]);
  EXPECT_TRUE(items[1].parent == nullptr && items[1].left == nullptr && items[1].right == nullptr);
  EXPECT_TRUE(TreeIsValid(tree));
}

TEST(MapTree, WalkStopsEarlyAndAllowsErasingTheVisitedNode) {
  Item<uint32_t> items[20];
  TMapTree<uint32_t> tree;
  for (uint32_t i = 0; i < 20; ++i) tree.Insert(&items[i], (i * 7) % 20);
  std::vector<uint32_t> seen;
  EXPECT_FALSE(tree.Walk([&](TMapElement<uint32_t>* node) { return seen.push_back(node->key), node->key < 4; }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(tree.Walk([&](TMapElement<uint32_t>* node) {
    if (node->key % 2 == 0) tree.Erase(node);
    return true;
  }));
  std::vector<uint32_t> left;
  for (TMapElement<uint32_t>* node : tree) left.push_back(node->key);
  EXPECT_EQ(left, (std::vector<uint32_t>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19}));
  EXPECT_TRUE(TreeIsValid(tree));
}

// Random inserts and erasures of chosen live nodes, mirrored in a multimap (which also puts equal
// keys after the present ones). The live size swings between a few and maxLive.
template <typename K>
void RunDifferential(uint32_t seed, uint32_t keyRange, size_t maxLive, int steps) {
  std::mt19937 random(seed);
  std::vector<Item<K>> pool(maxLive);
  std::vector<Item<K>*> live, unused;
  for (Item<K>& item : pool) unused.push_back(&item);
  std::multimap<K, Item<K>*> mirror;
  TMapTree<K> tree;
  bool growing = true;
  for (int step = 0; step < steps; ++step) {
    growing = live.size() < 8 || (growing && live.size() < maxLive);
    if (live.empty() || (live.size() < maxLive && random() % 10 < (growing ? 7u : 3u))) {
      Item<K>* item = unused.back();
      unused.pop_back();
      K key = static_cast<K>(random() % keyRange);
      if (random() % 2 == 0) key = static_cast<K>(~key);  // the top of the key range
      // Runs at and just past the greatest key, as ids arrive in order.
      if (random() % 4 == 0 && !mirror.empty()) key = static_cast<K>(mirror.rbegin()->first + random() % 2);
      item->mirror = mirror.emplace(key, item);
      tree.Insert(item, key);
      live.push_back(item);
    } else {
      const size_t index = random() % live.size();
      Item<K>* item = live[index];
      live[index] = live.back();
      live.pop_back();
      tree.Erase(item);
      mirror.erase(item->mirror);
      unused.push_back(item);
    }
    ASSERT_TRUE(TreeIsValid(tree)) << "at step " << step;
    if (step % 16 != 0) continue;
    std::vector<TMapElement<K>*> expected, actual;
    for (const auto& entry : mirror) expected.push_back(entry.second);
    for (TMapElement<K>* node : tree) actual.push_back(node);
    ASSERT_EQ(actual, expected) << "order differs at step " << step;
    const K probe = static_cast<K>(random() % 2 ? random() % keyRange : ~(random() % keyRange));
    const auto bound = mirror.lower_bound(probe);
    ASSERT_EQ(tree.LowerBound(probe), bound == mirror.end() ? nullptr : bound->second) << probe;
    // Equal keys: oldest first, as the multimap keeps them.
    std::vector<TMapElement<K>*> same, sameExpected;
    for (auto* node = tree.FindFirst(probe); node != nullptr; node = tree.NextSameKey(node)) same.push_back(node);
    for (auto [at, end] = mirror.equal_range(probe); at != end; ++at) sameExpected.push_back(at->second);
    ASSERT_EQ(same, sameExpected) << probe;
    if (!expected.empty()) {
      ASSERT_EQ(tree.Last(), expected.back());
      ASSERT_EQ(tree.Prev(tree.Last()), expected.size() > 1 ? expected[expected.size() - 2] : nullptr);
    }
  }
}

TEST(MapTree, MatchesMultimap) {
  RunDifferential<uint32_t>(1234, 300, 600, 100000);
  RunDifferential<uint16_t>(98765, 150, 600, 100000);
}

}  // namespace
