#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "tests/repository/StoryBuilder.h"

using namespace QuorinTest;

namespace {

using EntryList = std::vector<std::pair<uint32_t, uint8_t>>;

class Connections : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 0));
    TlxRegisterDefaultClasses();
  }
  void TearDown() override { TlxShutdown(); }

  // Resolves one connection and returns its paths' entries, freeing the result.
  static std::vector<EntryList> Resolve(uint32_t connection) {
    void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(connection)));
    std::vector<EntryList> out;
    for (uint32_t i = 0; i < TlxGetResolvedConnectionCount(paths); ++i)
      out.push_back(StoryBuilder::Entries(PathHandle(paths[i])));
    TlxFreeResolvedConnection(paths);
    return out;
  }

  StoryBuilder story;
};

}  // namespace

TEST_F(Connections, DirectTargetGivesTheConnectionItself) {
  const uint32_t target = story.Node();
  const uint32_t first = story.Part(PrototypeRef(story.Node(kEntity)));  // a part on the way
  const uint32_t last = story.Part(PrototypeRef(target));
  const uint32_t connection = story.Connection({first, last});
  void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(connection)));
  ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
  EXPECT_EQ(paths[1], nullptr) << "the array ends with a null";
  const TlxReferenceList* path = PathHandle(paths[0]);
  EXPECT_EQ(StoryBuilder::Entries(path), (EntryList{{first, 1}, {last, 1}}));
  EXPECT_EQ(path->prototypeListId, StoryBuilder::ListOf(connection)->prototypeListId);
  EXPECT_EQ(TlxGetObjectId(TlxResolveConnectionTarget(paths[0])), target);
  TlxFreeResolvedConnection(paths);
}

TEST_F(Connections, HubFansOutIntoOnePathPerOutgoingConnection) {
  const uint32_t a = story.Part(PrototypeRef(story.Node())), b = story.Part(PrototypeRef(story.Node()));
  const uint32_t toA = story.Connection({a}), toB = story.Connection({b});
  const uint32_t hub = story.Hub({toA, toB});
  const uint32_t entry = story.Part(PrototypeRef(hub));
  const auto paths = Resolve(story.Connection({entry}));
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], (EntryList{{entry, 1}, {a, 1}}));
  EXPECT_EQ(paths[1], (EntryList{{entry, 1}, {b, 1}}));
}

TEST_F(Connections, JumpIsFollowedOnceAndJoinsThePath) {
  const uint32_t flow = story.Node(kFlowFragment);
  const uint32_t jumpPart = story.Part(PrototypeRef(flow));
  const uint32_t jump = story.Jump(jumpPart);
  const uint32_t entry = story.Part(PrototypeRef(jump));
  const uint32_t connection = story.Connection({entry});
  void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(connection)));
  ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
  EXPECT_EQ(StoryBuilder::Entries(PathHandle(paths[0])), (EntryList{{entry, 1}, {jumpPart, 1}}));
  EXPECT_EQ(TlxGetObjectId(TlxResolveConnectionTarget(paths[0])), flow);
  TlxFreeResolvedConnection(paths);
}

TEST_F(Connections, DeadEndsGiveNoPathOrEndTheWalk) {
  // An empty hub, an empty connection, a last entry that is no part, a hub without data.
  const uint32_t emptyHub = story.Hub({});
  EXPECT_TRUE(Resolve(story.Connection({story.Part(PrototypeRef(emptyHub))})).empty());
  EXPECT_TRUE(Resolve(story.List({})).empty());
  EXPECT_TRUE(Resolve(story.List({PrototypeRef(story.Node())})).empty());
  TlxCreatePrototype(900, kHub, 0xFFFF);  // no class data
  EXPECT_TRUE(Resolve(story.Connection({story.Part(PrototypeRef(900))})).empty());
  // A jump without data is an ordinary target; a missing target ends the path where it is.
  TlxCreatePrototype(901, kJump, 0xFFFF);
  const uint32_t toJump = story.Part(PrototypeRef(901));
  EXPECT_EQ(Resolve(story.Connection({toJump})), (std::vector<EntryList>{{{toJump, 1}}}));
  const uint32_t nowhere = story.Part(PrototypeRef(12345));
  EXPECT_EQ(Resolve(story.Connection({nowhere})), (std::vector<EntryList>{{{nowhere, 1}}}));
}

TEST_F(Connections, HubCyclesAndLongHubChainsAreBounded) {
  // A hub whose only connection leads back to itself.
  const uint32_t selfList = story.ReserveListId();
  const uint32_t hub = story.HubWithList(selfList);
  const uint32_t back = story.Part(PrototypeRef(hub));
  const TlxReference loop[] = {ListRef(story.Connection({back}))};
  TlxCreateListPrototype(selfList, loop, 1);
  EXPECT_TRUE(Resolve(story.Connection({story.Part(PrototypeRef(hub))})).empty());

  // 100 hubs in a chain ending at a node: deeper than the bound, so nothing, and no crash.
  uint32_t next = story.Connection({story.Part(PrototypeRef(story.Node()))});
  for (int i = 0; i < 100; ++i) next = story.Connection({story.Part(PrototypeRef(story.Hub({next})))});
  EXPECT_TRUE(Resolve(next).empty());
  // 60 hubs stay within it: one path through every part.
  uint32_t shallow = story.Connection({story.Part(PrototypeRef(story.Node()))});
  for (int i = 0; i < 60; ++i) shallow = story.Connection({story.Part(PrototypeRef(story.Hub({shallow})))});
  const auto paths = Resolve(shallow);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0].size(), 61u);
}

namespace {

// n hubs, each connected to every other hub (in index order) and, with an exit, last to one
// fragment. Paths through it are simple hub sequences: the number explodes with n.
struct CompleteHubGraph {
  std::vector<uint32_t> toHub;      // connection (of one part) into hub i
  std::vector<uint32_t> hubParts;   // that part
  uint32_t exitPart = 0;

  CompleteHubGraph(StoryBuilder& story, uint32_t hubs, bool exit) {
    const uint32_t firstList = story.NextListId() + 10000;
    for (uint32_t i = 0; i < hubs; ++i) {
      hubParts.push_back(story.Part(PrototypeRef(story.HubWithList(firstList + i))));
      toHub.push_back(story.Connection({hubParts.back()}));
    }
    exitPart = story.Part(PrototypeRef(story.Node()));
    const uint32_t toExit = story.Connection({exitPart});
    for (uint32_t i = 0; i < hubs; ++i) {
      std::vector<TlxReference> entries;
      for (uint32_t j = 0; j < hubs; ++j)
        if (j != i) entries.push_back(ListRef(toHub[j]));
      if (exit) entries.push_back(ListRef(toExit));
      TlxCreateListPrototype(firstList + i, entries.data(), static_cast<uint32_t>(entries.size()));
    }
  }

  // The first `limit` paths from hub 0 in depth-first order, as the resolver should give them.
  void Enumerate(uint32_t hub, std::vector<bool>& on, EntryList& path, std::vector<EntryList>& out,
                 size_t limit) const {
    for (uint32_t j = 0; j < toHub.size() && out.size() < limit; ++j) {
      if (j == hub || on[j]) continue;
      on[j] = true;
      path.emplace_back(hubParts[j], 1);
      Enumerate(j, on, path, out, limit);
      path.pop_back();
      on[j] = false;
    }
    if (out.size() == limit) return;
    out.push_back(path);
    out.back().emplace_back(exitPart, 1);
  }
};

}  // namespace

TEST_F(Connections, DenseHubCyclesStopAtThePathBudgetInDepthFirstOrder) {
  const CompleteHubGraph graph(story, 8, true);  // 13,700 simple paths
  std::vector<bool> on(8, false);
  on[0] = true;
  EntryList path{{graph.hubParts[0], 1}};
  std::vector<EntryList> expected;
  graph.Enumerate(0, on, path, expected, 4096);
  const auto paths = Resolve(graph.toHub[0]);
  ASSERT_EQ(paths.size(), 4096u);
  EXPECT_TRUE(paths == expected) << "the paths are the depth-first prefix";
}

TEST_F(Connections, HubsWithoutExitStopAtTheExpansionBudget) {
  // The exit before the dead cyclic hubs is found; the one after them lies beyond the budget.
  const CompleteHubGraph dead(story, 8, false);
  const uint32_t before = story.Part(PrototypeRef(story.Node())), after = story.Part(PrototypeRef(story.Node()));
  const uint32_t hub = story.Hub({story.Connection({before}), dead.toHub[0], story.Connection({after})});
  const uint32_t entry = story.Part(PrototypeRef(hub));
  EXPECT_EQ(Resolve(story.Connection({entry})), (std::vector<EntryList>{{{entry, 1}, {before, 1}}}));
}

TEST_F(Connections, CountAndFreeForZeroOneAndManyPaths) {
  EXPECT_EQ(TlxGetResolvedConnectionCount(nullptr), 0u);
  TlxFreeResolvedConnection(nullptr);
  for (uint32_t fan : {0u, 1u, 40u}) {
    std::vector<uint32_t> connections;
    for (uint32_t i = 0; i < fan; ++i) connections.push_back(story.Connection({story.Part(PrototypeRef(story.Node()))}));
    std::vector<TlxReference> entries;
    for (uint32_t c : connections) entries.push_back(ListRef(c));
    const uint32_t list = story.ReserveListId();
    TlxCreateListPrototype(list, entries.data(), fan);
    const TlxListReference all{list, 1};
    void** paths = TlxResolveConnectionsWithIndirections(&all);
    ASSERT_NE(paths, nullptr) << "zero paths still give an array";
    EXPECT_EQ(TlxGetResolvedConnectionCount(paths), fan);
    TlxFreeResolvedConnection(paths);  // the leak check sees every path go
  }
}

TEST_F(Connections, PathOutlivesTheObjectsItNames) {
  TlxCreateInstanceFromPrototype(77, story.Node());
  const uint32_t part = story.Part(InstanceRef(77));
  void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(story.Connection({part}))));
  ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
  EXPECT_NE(TlxResolveConnectionTarget(paths[0]), nullptr);
  TlxReleaseInstance(77);
  EXPECT_EQ(TlxResolveConnectionTarget(paths[0]), nullptr);
  TlxFreeResolvedConnection(paths);
}

TEST_F(Connections, NullAndEmptyArguments) {
  EXPECT_EQ(TlxResolveConnectionWithIndirections(nullptr), nullptr);
  EXPECT_EQ(TlxResolveConnectionsWithIndirections(nullptr), nullptr);
  EXPECT_EQ(TlxResolveConnectionTarget(nullptr), nullptr);
  EXPECT_TRUE(TlxResolveConnectionConditions(nullptr));
  TlxResolveConnectionOutcomes(nullptr);
  const TlxListReference missing{4242, 1};
  void** none = TlxResolveConnectionsWithIndirections(&missing);
  EXPECT_EQ(TlxGetResolvedConnectionCount(none), 0u);
  TlxFreeResolvedConnection(none);
}

TEST(ConnectionsBeforeStart, ExportsGiveTheirAbsentResults) {
  int dummy = 0;
  EXPECT_EQ(TlxResolveConnectionWithIndirections(&dummy), nullptr);
  EXPECT_EQ(TlxResolveConnectionTarget(&dummy), nullptr);
  EXPECT_FALSE(TlxResolveConnectionConditions(&dummy));
  EXPECT_EQ(TlxGetResolvedConnectionCount(nullptr), 0u);
  TlxResolveConnectionOutcomes(&dummy);
  TlxFreeResolvedConnection(nullptr);
}

namespace {

// The variable's Integer value, read through the Reference TlxSprigGetVar gives.
int32_t IntegerVariable(const char* name) {
  const TlxSprigValue reference = TlxSprigGetVar(name);
  EXPECT_EQ(reference.kind, 0) << name;
  const auto* value = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(reference.payload));
  EXPECT_EQ(value->kind, 2) << name;
  return static_cast<int32_t>(value->payload);
}

}  // namespace

TEST_F(Connections, ConditionsOfKindSprigAreEvaluatedOthersHold) {
  struct Case {
    const char* condition;
    uint8_t kind;
    bool holds;
  };
  const Case cases[] = {
      {"0", kSprig, false},        {"0", kCustomScript, true}, {"1", kSprig, true},
      {"3 > 2", kSprig, true},     {"1 / 0", kSprig, false},  // Invalid is false
      {"{Nope 1}", kSprig, false}, {"", kSprig, true},         {"v:x >= 2", kSprig, false},
  };
  for (const Case& c : cases) {
    const uint32_t part = story.Part(PrototypeRef(story.Node()), c.condition, c.kind);
    void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(story.Connection({part}))));
    ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
    EXPECT_EQ(TlxResolveConnectionConditions(paths[0]), c.holds) << "\"" << c.condition << "\" kind " << int(c.kind);
    TlxFreeResolvedConnection(paths);
  }
}

TEST_F(Connections, FirstFalseConditionDecidesAndOutcomesRunInOrder) {
  TlxSprigExecute("v:gold = 10");
  const uint32_t first = story.Part(PrototypeRef(story.Node()), "v:gold >= 10", kSprig, "v:gold -= 4");
  const uint32_t second = story.Part(PrototypeRef(story.Node()), "v:gold >= 10", kSprig, "v:log = v:gold * 2");
  const uint32_t custom = story.Part(PrototypeRef(story.Node()), nullptr, kSprig, "v:gold = 0", kCustomScript);
  const uint32_t broken = story.Part(PrototypeRef(story.Node()), nullptr, kSprig, "v:gold +", kSprig);
  void** paths = TlxResolveConnectionWithIndirections(
      ListObject(StoryBuilder::ListOf(story.Connection({first, custom, broken, second}))));
  ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
  EXPECT_TRUE(TlxResolveConnectionConditions(paths[0]));
  TlxResolveConnectionOutcomes(paths[0]);
  EXPECT_EQ(IntegerVariable("v:gold"), 6) << "custom scripts are the host's; a failing outcome is skipped";
  EXPECT_EQ(IntegerVariable("v:log"), 12) << "outcomes run in path order";
  EXPECT_FALSE(TlxResolveConnectionConditions(paths[0])) << "the outcome changed what the condition reads";
  TlxFreeResolvedConnection(paths);
}

TEST_F(Connections, ReplacedScriptTextIsParsedAgain) {
  // The condition's text (id 1) lives in a region that is dropped and then made anew, under the
  // same id, with other text: the cached parse must not be reused.
  const uint16_t region = TlxBeginRegion();
  StoryBuilder first;
  const uint32_t part = first.Part(PrototypeRef(first.Node()), "1", kSprig);
  void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(first.Connection({part}))));
  EXPECT_TRUE(TlxResolveConnectionConditions(paths[0]));
  TlxFreeResolvedConnection(paths);
  TlxEndRegion();
  TlxDropRegionData(region);
  StoryBuilder again;
  const uint32_t part2 = again.Part(PrototypeRef(again.Node()), "0", kSprig);
  paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(again.Connection({part2}))));
  EXPECT_FALSE(TlxResolveConnectionConditions(paths[0]));
  TlxFreeResolvedConnection(paths);
}

// After a first step has parsed the scripts, a step allocates only the paths it hands out:
// each path and its entries, and the result array.
TEST_F(Connections, StepAllocatesOnlyThePaths) {
  std::vector<uint32_t> choices;
  for (const char* condition : {"s:gold >= 3", "!s:heard", "s:gold < 100", "1"})
    choices.push_back(story.Connection({story.Part(PrototypeRef(story.Node()), condition, kSprig, "s:visits += 1")}));
  const uint32_t hub = story.Hub({choices[0], choices[1], choices[2], choices[3]});
  const uint32_t connection = story.Connection({story.Part(PrototypeRef(hub))});
  auto step = [&] {
    void** paths = TlxResolveConnectionWithIndirections(ListObject(StoryBuilder::ListOf(connection)));
    for (uint32_t i = 0; i < TlxGetResolvedConnectionCount(paths); ++i) TlxResolveConnectionConditions(paths[i]);
    TlxResolveConnectionOutcomes(paths[0]);
    EXPECT_NE(TlxResolveConnectionTarget(paths[0]), nullptr);
    TlxFreeResolvedConnection(paths);
  };
  step();
  const uint64_t before = Bravik::Memory::GetMemoryStatistics().allocations;
  step();
  EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().allocations - before, 4u * 2 + 1);
}
