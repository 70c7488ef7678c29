// The intrusive red-black tree: fixed shapes, duplicate keys, walks, and a differential run
// against std::multimap with the red-black invariants checked after every step.
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

template <typename K>
Item<K>* Owner(TMapElement<K>* node) {
  return static_cast<Item<K>*>(node);
}

// Checks one subtree and returns its black height (-1 when broken, with the reason in why).
// Plain comparisons rather than EXPECTs: this runs on every node after every step.
template <typename K>
int CheckSubtree(const TMapElement<K>* node, const TMapElement<K>* parent, uint64_t& nodes,
                 const char*& why) {
  if (node == nullptr) return 1;
  ++nodes;
  if (node->parent != parent) why = "parent link";
  if (node->colour != kMapRed && node->colour != kMapBlack) why = "colour value";
  if (node->left != nullptr && node->left->key > node->key) why = "left key greater";
  if (node->right != nullptr && node->right->key < node->key) why = "right key smaller";
  if (node->colour == kMapRed && ((node->left != nullptr && node->left->colour == kMapRed) ||
                                  (node->right != nullptr && node->right->colour == kMapRed))) {
    why = "red node with red child";
  }
  const int leftHeight = CheckSubtree(node->left, node, nodes, why);
  const int rightHeight = CheckSubtree(node->right, node, nodes, why);
  if (leftHeight != rightHeight) why = "black heights differ";
  if (why != nullptr) return -1;
  return leftHeight + (node->colour == kMapBlack ? 1 : 0);
}

// Every red-black invariant; order across subtrees follows from comparing the in-order walk.
template <typename K>
::testing::AssertionResult TreeIsValid(const TMapTree<K>& tree) {
  const char* why = nullptr;
  if (tree.root != nullptr && tree.root->parent != nullptr) why = "root has a parent";
  if (tree.root != nullptr && tree.root->colour != kMapBlack) why = "root is red";
  uint64_t nodes = 0;
  CheckSubtree<K>(tree.root, nullptr, nodes, why);
  if (why == nullptr && nodes != tree.count) why = "count differs from nodes";
  if (why == nullptr) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << why;
}

template <typename K>
std::vector<Item<K>*> InOrder(const TMapTree<K>& tree) {
  std::vector<Item<K>*> items;
  for (TMapElement<K>* node : tree) items.push_back(Owner(node));
  return items;
}

TEST(MapTreeShape, AscendingKeysRotateIntoBalancedRoot) {
  Item<uint32_t> items[3];
  TMapTree<uint32_t> tree;
  for (uint32_t i = 0; i < 3; ++i) tree.Insert(&items[i], i + 1);
  EXPECT_EQ(tree.root, &items[1]);
  EXPECT_EQ(tree.root->colour, kMapBlack);
  EXPECT_EQ(tree.root->left, &items[0]);
  EXPECT_EQ(tree.root->right, &items[2]);
  EXPECT_EQ(items[0].colour, kMapRed);
  EXPECT_EQ(items[2].colour, kMapRed);
  EXPECT_EQ(tree.count, 3u);
}

TEST(MapTreeShape, SuccessorTakesPlaceOfErasedNodeWithTwoChildren) {
  Item<uint16_t> items[3];
  TMapTree<uint16_t> tree;
  for (uint16_t i = 0; i < 3; ++i) tree.Insert(&items[i], static_cast<uint16_t>(i + 1));
  tree.Erase(&items[1]);
  // The successor object itself moved up: nodes are relinked, keys stay with their owners.
  EXPECT_EQ(tree.root, &items[2]);
  EXPECT_EQ(items[2].key, 3u);
  EXPECT_EQ(items[2].colour, kMapBlack);
  EXPECT_EQ(items[2].left, &items[0]);
  EXPECT_EQ(items[0].parent, &items[2]);
  EXPECT_EQ(items[1].parent, nullptr);
  EXPECT_EQ(items[1].left, nullptr);
  EXPECT_EQ(items[1].right, nullptr);
  EXPECT_EQ(tree.count, 2u);
  EXPECT_TRUE(TreeIsValid(tree));
}

TEST(MapTreeShape, EmptyTreeFindsAndVisitsNothing) {
  TMapTree<uint32_t> tree;
  EXPECT_EQ(tree.Find(0), nullptr);
  EXPECT_EQ(tree.LowerBound(0), nullptr);
  EXPECT_EQ(tree.First(), nullptr);
  EXPECT_EQ(tree.Last(), nullptr);
  EXPECT_TRUE(tree.begin() == tree.end());
  EXPECT_TRUE(tree.Walk([](TMapElement<uint32_t>*) { return false; }));
}

TEST(MapTreeKeys, RepeatedIdsKeepInsertionOrderAndEraseOwnNode) {
  Item<uint32_t> items[5];
  TMapTree<uint32_t> tree;
  const uint32_t keys[5] = {7, 3, 7, 9, 7};
  for (int i = 0; i < 5; ++i) tree.Insert(&items[i], keys[i]);
  EXPECT_EQ(tree.FindFirst(7), &items[0]);
  EXPECT_EQ(tree.NextSameKey(&items[0]), &items[2]);
  EXPECT_EQ(tree.NextSameKey(&items[2]), &items[4]);
  EXPECT_EQ(tree.NextSameKey(&items[4]), nullptr);
  // Erasing the middle one of three leaves exactly the other two.
  tree.Erase(&items[2]);
  EXPECT_EQ(tree.FindFirst(7), &items[0]);
  EXPECT_EQ(tree.NextSameKey(&items[0]), &items[4]);
  EXPECT_EQ(tree.Find(7)->key, 7u);
  EXPECT_EQ(tree.Find(8), nullptr);
  EXPECT_TRUE(TreeIsValid(tree));
}

TEST(MapTreeKeys, LowerBoundFindsFirstNotLess) {
  Item<uint16_t> items[5];
  TMapTree<uint16_t> tree;
  const uint16_t keys[5] = {20, 10, 30, 20, 0xFFFF};
  for (int i = 0; i < 5; ++i) tree.Insert(&items[i], keys[i]);
  // Wanted key, index of the expected item.
  const struct { uint16_t wanted; int expected; } cases[] = {
      {0, 1}, {10, 1}, {11, 0}, {20, 0}, {21, 2}, {31, 4}, {0xFFFF, 4}};
  for (const auto& c : cases) EXPECT_EQ(tree.LowerBound(c.wanted), &items[c.expected]) << c.wanted;
  Item<uint16_t> below;
  tree.Erase(&items[4]);
  EXPECT_EQ(tree.LowerBound(31), nullptr);
  tree.Insert(&below, 0);
  EXPECT_EQ(tree.FindFirst(0), &below);
  EXPECT_EQ(tree.FindFirst(15), nullptr);
}

TEST(MapTreeWalk, StopsEarlyAndAllowsErasingVisitedNode) {
  Item<uint32_t> items[20];
  TMapTree<uint32_t> tree;
  for (uint32_t i = 0; i < 20; ++i) tree.Insert(&items[i], (i * 7) % 20);
  std::vector<uint32_t> seen;
  EXPECT_FALSE(tree.Walk([&](TMapElement<uint32_t>* node) {
    seen.push_back(node->key);
    return node->key < 4;
  }));
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
  std::vector<Item<K>*> live;
  std::vector<Item<K>*> unused;
  for (Item<K>& item : pool) unused.push_back(&item);
  std::multimap<K, Item<K>*> mirror;
  TMapTree<K> tree;
  bool growing = true;
  for (int step = 0; step < steps; ++step) {
    if (live.size() == maxLive) growing = false;
    if (live.size() < 8) growing = true;
    const bool insert =
        live.empty() || (live.size() < maxLive && random() % 10 < (growing ? 7u : 3u));
    if (insert) {
      Item<K>* item = unused.back();
      unused.pop_back();
      K key = static_cast<K>(random() % keyRange);
      if (random() % 2 == 0) key = static_cast<K>(~key);  // exercise the top of the key range
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
    if (step % 16 == 0) {
      std::vector<Item<K>*> expected;
      for (const auto& entry : mirror) expected.push_back(entry.second);
      ASSERT_EQ(InOrder(tree), expected) << "order differs at step " << step;
      if (!expected.empty()) {
        const K probe = expected[random() % expected.size()]->key;
        ASSERT_EQ(tree.FindFirst(probe), mirror.lower_bound(probe)->second);
        ASSERT_EQ(tree.Find(probe)->key, probe);
        ASSERT_EQ(tree.Last(), expected.back());
        ASSERT_EQ(tree.Prev(tree.Last()),
                  expected.size() > 1 ? expected[expected.size() - 2] : nullptr);
      }
    }
  }
}

TEST(MapTreeDifferential, MatchesMultimap) {
  RunDifferential<uint32_t>(1234, 300, 600, 100000);
  RunDifferential<uint16_t>(98765, 150, 600, 100000);
}

}  // namespace
