// Connection resolution: paths through jumps and hubs, dead ends, cycles and the bounded work of
// dense hub graphs, the result array, and the conditions and outcomes of a path.
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "tests/repository/StoryBuilder.h"

using namespace QuorinTest;

namespace {

// A resolved path: its entries, the id of its target (0 for none) and its prototype list id.
struct Path {
  EntryList entries;
  uint32_t target = 0;
  uint32_t prototypeListId = 0xFFFFFFFF;
  bool operator==(const Path&) const = default;
};

class Connections : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlxInitialize(17, 0));
    TlxRegisterDefaultClasses();
  }
  void TearDown() override { TlxShutdown(); }

  static void* Object(uint32_t list) { return ListObject(TlxGetListPrototype(list)); }
  // Resolves one connection (a list object) and frees the result.
  static std::vector<Path> Resolve(void* connection) {
    void** paths = TlxResolveConnectionWithIndirections(connection);
    std::vector<Path> out;
    for (uint32_t i = 0; i < TlxGetResolvedConnectionCount(paths); ++i) {
      TlxObject* target = TlxResolveConnectionTarget(paths[i]);
      out.push_back({Entries(TlxGetPathParts(paths[i])), target ? TlxGetObjectId(target) : 0,
                     TlxGetPathParts(paths[i])->prototypeListId});
    }
    TlxFreeResolvedConnection(paths);
    return out;
  }
  static std::vector<Path> Resolve(uint32_t connection) { return Resolve(Object(connection)); }
  // The entries of every path, for graphs where only they matter.
  static std::vector<EntryList> EntriesOf(uint32_t connection) {
    std::vector<EntryList> out;
    for (const Path& path : Resolve(connection)) out.push_back(path.entries);
    return out;
  }

  StoryBuilder story;
};

TEST_F(Connections, JumpsAndHubsResolveIntoConcretePaths) {
  // A direct target: the connection itself, keeping its prototype list id.
  const uint32_t target = story.Node();
  const uint32_t onTheWay = story.Part(PrototypeRef(story.Node(kEntity))), last = story.Part(PrototypeRef(target));
  const uint32_t direct = story.Connection({onTheWay, last});
  void* instance = ListObject(TlxCreateListInstanceFromPrototype(500, direct));
  EXPECT_EQ(Resolve(instance), (std::vector<Path>{{{{onTheWay, 1}, {last, 1}}, target, direct}}));
  // A hub: one path per outgoing connection, the entry's parts followed by the branch's.
  const uint32_t a = story.Node(), b = story.Node();
  const uint32_t toA = story.To(a), toB = story.To(b);
  const uint32_t partA = TlxGetListPrototype(toA)->entries[0].id, partB = TlxGetListPrototype(toB)->entries[0].id;
  const uint32_t toHub = story.Part(PrototypeRef(story.Hub({toA, toB})));
  EXPECT_EQ(Resolve(story.Connection({toHub})),
            (std::vector<Path>{{{{toHub, 1}, {partA, 1}}, a}, {{{toHub, 1}, {partB, 1}}, b}}));
  // One jump is followed; its connection joins the path.
  const uint32_t flow = story.Node(kFlowFragment);
  const uint32_t jumpPart = story.Part(PrototypeRef(flow));
  const uint32_t toJump = story.Part(PrototypeRef(story.Jump(jumpPart)));
  EXPECT_EQ(Resolve(story.Connection({toJump})), (std::vector<Path>{{{{toJump, 1}, {jumpPart, 1}}, flow}}));
}

TEST_F(Connections, DeadEndsGiveNoPathOrEndTheWalk) {
  // An empty hub, an empty connection, a last entry that is no part, a hub without data.
  EXPECT_TRUE(Resolve(story.To(story.Hub({}))).empty());
  EXPECT_TRUE(Resolve(story.List({})).empty());
  EXPECT_TRUE(Resolve(story.List({PrototypeRef(story.Node())})).empty());
  TlxCreatePrototype(900, kHub, 0xFFFF);
  EXPECT_TRUE(Resolve(story.To(900)).empty());
  // A jump without data is an ordinary target; a missing target ends the path where it is.
  TlxCreatePrototype(901, kJump, 0xFFFF);
  const uint32_t toJump = story.Part(PrototypeRef(901)), nowhere = story.Part(PrototypeRef(12345));
  EXPECT_EQ(Resolve(story.Connection({toJump})), (std::vector<Path>{{{{toJump, 1}}, 901}}));
  EXPECT_EQ(Resolve(story.Connection({nowhere})), (std::vector<Path>{{{{nowhere, 1}}, 0}}));
}

TEST_F(Connections, HubCyclesAndDeepHubChainsAreCut) {
  const uint32_t selfList = story.ReserveListId();
  const uint32_t self = story.HubWithList(selfList);
  story.List({ListRef(story.To(self))}, selfList);
  EXPECT_TRUE(Resolve(story.To(self)).empty());
  // Hubs nested 60 deep still resolve to one path through every part; 100 deep give nothing.
  for (const int depth : {60, 100}) {
    uint32_t next = story.To(story.Node());
    for (int i = 0; i < depth; ++i) next = story.To(story.Hub({next}));
    const auto paths = EntriesOf(next);
    ASSERT_EQ(paths.size(), depth == 60 ? 1u : 0u) << depth;
    if (depth == 60) {
      EXPECT_EQ(paths[0].size(), 61u);
    }
  }
}

// n hubs, each connected to every other hub (in index order) and, with an exit, last to one
// fragment. The simple paths through it explode with n.
struct CompleteHubGraph {
  std::vector<uint32_t> toHub, hubParts;  // the connection (of one part) into hub i, and that part
  uint32_t exitPart = 0;

  CompleteHubGraph(StoryBuilder& story, uint32_t hubs, bool exit) {
    std::vector<uint32_t> lists;
    for (uint32_t i = 0; i < hubs; ++i) {
      lists.push_back(story.ReserveListId());
      toHub.push_back(story.To(story.HubWithList(lists.back())));
      hubParts.push_back(TlxGetListPrototype(toHub.back())->entries[0].id);
    }
    const uint32_t toExit = story.To(story.Node());
    exitPart = TlxGetListPrototype(toExit)->entries[0].id;
    for (uint32_t i = 0; i < hubs; ++i) {
      std::vector<TlxReference> entries;
      for (uint32_t j = 0; j < hubs; ++j)
        if (j != i) entries.push_back(ListRef(toHub[j]));
      if (exit) entries.push_back(ListRef(toExit));
      story.List(entries, lists[i]);
    }
  }

  // Appends the paths from the last hub of `path` in depth-first order, as the resolver should give them, until
  // `out` holds `limit`.
  void Enumerate(std::vector<bool>& on, EntryList& path, std::vector<EntryList>& out, size_t limit) const {
    for (uint32_t j = 0; j < toHub.size() && out.size() < limit; ++j) {
      if (on[j]) continue;
      on[j] = true;
      path.emplace_back(hubParts[j], 1);
      Enumerate(on, path, out, limit);
      path.pop_back();
      on[j] = false;
    }
    if (out.size() == limit) return;
    out.push_back(path);
    out.back().emplace_back(exitPart, 1);
  }
};

TEST_F(Connections, DenseHubCyclesStopAtThePathBudgetInDepthFirstOrder) {
  const CompleteHubGraph graph(story, 8, true);  // 13,700 simple paths
  std::vector<bool> on(8, false);
  on[0] = true;
  EntryList path{{graph.hubParts[0], 1}};
  std::vector<EntryList> expected;
  graph.Enumerate(on, path, expected, 4096);
  const auto paths = EntriesOf(graph.toHub[0]);
  ASSERT_EQ(paths.size(), 4096u);
  EXPECT_TRUE(paths == expected) << "the paths are the depth-first prefix";
}

TEST_F(Connections, HubsWithoutExitStopAtTheExpansionBudget) {
  // The exit before the dead cyclic hubs is found; the one after them lies beyond the budget.
  const CompleteHubGraph dead(story, 8, false);
  const uint32_t before = story.Node(), after = story.Node();
  const uint32_t entry = story.Part(PrototypeRef(story.Hub({story.To(before), dead.toHub[0], story.To(after)})));
  const auto paths = Resolve(story.Connection({entry}));
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0].target, before);
}

// The array holds the paths and a null; every path goes back with it (leak check).
TEST_F(Connections, ResultArrayOfZeroOneAndManyPaths) {
  for (uint32_t fan : {0u, 1u, 40u}) {
    std::vector<TlxReference> entries;
    for (uint32_t i = 0; i < fan; ++i) entries.push_back(ListRef(story.To(story.Node())));
    const TlxListReference all{story.List(entries), 1};
    void** paths = TlxResolveConnectionsWithIndirections(&all);
    ASSERT_NE(paths, nullptr) << "zero paths still give an array";
    EXPECT_EQ(TlxGetResolvedConnectionCount(paths), fan);
    EXPECT_EQ(paths[fan], nullptr);
    TlxFreeResolvedConnection(paths);
  }
  const TlxListReference missing{4242, 1};
  void** none = TlxResolveConnectionsWithIndirections(&missing);
  EXPECT_EQ(TlxGetResolvedConnectionCount(none), 0u);
  TlxFreeResolvedConnection(none);
  // A path copies references: it outlives the objects it names, whose target then reads null.
  TlxCreateInstanceFromPrototype(77, story.Node());
  void** paths = TlxResolveConnectionWithIndirections(Object(story.Connection({story.Part({77, 2})})));
  EXPECT_NE(TlxResolveConnectionTarget(paths[0]), nullptr);
  TlxReleaseInstance(77);
  EXPECT_EQ(TlxResolveConnectionTarget(paths[0]), nullptr);
  TlxFreeResolvedConnection(paths);
}

TEST(ConnectionsBoundary, NullArgumentsAndCallsBeforeStartGiveAbsentResults) {
  int dummy = 0;
  EXPECT_EQ(TlxResolveConnectionWithIndirections(&dummy), nullptr);
  EXPECT_EQ(TlxResolveConnectionTarget(&dummy), nullptr);
  EXPECT_FALSE(TlxResolveConnectionConditions(&dummy));
  TlxResolveConnectionOutcomes(&dummy);
  ASSERT_TRUE(TlxInitialize(17, 0));
  EXPECT_EQ(TlxResolveConnectionWithIndirections(nullptr), nullptr);
  EXPECT_EQ(TlxResolveConnectionsWithIndirections(nullptr), nullptr);
  EXPECT_EQ(TlxResolveConnectionTarget(nullptr), nullptr);
  EXPECT_TRUE(TlxResolveConnectionConditions(nullptr));
  TlxResolveConnectionOutcomes(nullptr);
  EXPECT_EQ(TlxGetResolvedConnectionCount(nullptr), 0u);
  TlxFreeResolvedConnection(nullptr);
  EXPECT_EQ(TlxGetPathParts(nullptr), nullptr);
  TlxShutdown();
  EXPECT_EQ(TlxGetPathParts(&dummy), nullptr);
}

// A path's parts are the record one pointer width into the path, as the boundary lays it out.
TEST_F(Connections, PathPartsAreTheRecordInsideThePath) {
  void** paths = TlxResolveConnectionWithIndirections(Object(story.Connection({story.Part(PrototypeRef(story.Node()))})));
  ASSERT_EQ(TlxGetResolvedConnectionCount(paths), 1u);
  EXPECT_EQ(TlxGetPathParts(paths[0]), PathHandle(paths[0]));
  EXPECT_EQ(TlxGetPathParts(paths[0])->count, 1u);
  TlxFreeResolvedConnection(paths);
}

// True when the script evaluates to Boolean true.
bool Holds(const char* script) {
  const TlxSprigValue value = TlxSprigExecute(script);
  return value.kind == 1 && value.payload == 1;
}

TEST_F(Connections, ConditionsOfKindSprigAreEvaluatedOthersHold) {
  const struct { const char* condition; uint8_t kind; bool holds; } cases[] = {
      {"0", kSprig, false}, {"0", kCustomScript, true}, {"3 > 2", kSprig, true},
      {"1 / 0", kSprig, false},  // Invalid is false
      {"{Nope 1}", kSprig, false}, {"", kSprig, true}, {"v:x >= 2", kSprig, false},
  };
  for (const auto& c : cases) {
    void** paths = TlxResolveConnectionWithIndirections(
        Object(story.Connection({story.Part(PrototypeRef(story.Node()), c.condition, c.kind)})));
    EXPECT_EQ(TlxResolveConnectionConditions(paths[0]), c.holds) << "\"" << c.condition << "\" kind " << int(c.kind);
    EXPECT_EQ(TlxSprigGetLastError(nullptr, 0, nullptr), 0u) << "false, not failing: " << c.condition;
    TlxFreeResolvedConnection(paths);
  }
}

// A condition or outcome that fails is reported as the call's script error (the first one of an
// outcome call), so a host can tell it from a false condition.
TEST_F(Connections, FailingConditionsAndOutcomesReportTheirError) {
  const uint32_t node = story.Node();
  const uint32_t ok = story.Part(PrototypeRef(node), "1", kSprig, "v:ran = 1");
  const uint32_t bad = story.Part(PrototypeRef(node), "v:x ! 2", kSprig, "v:y +");
  const uint32_t worse = story.Part(PrototypeRef(node), "1", kSprig, "* 3");
  void** paths = TlxResolveConnectionWithIndirections(Object(story.Connection({ok, bad, worse})));
  const struct {
    std::function<void()> call;
    uint32_t code, position;
    const char* message;
  } cases[] = {
      {[&] { EXPECT_FALSE(TlxResolveConnectionConditions(paths[0])); }, 9, 4, "operator \"!\" is unary."},
      {[&] { TlxResolveConnectionOutcomes(paths[0]); }, 8, 4, "Missing right hand side of \"a + b\"."},
      {[&] { TlxSprigExecute("v:ran == 1"); }, 0, 0, ""},
  };
  for (const auto& c : cases) {
    char message[64] = "untouched";
    uint32_t position = 0xDEAD;
    c.call();
    EXPECT_EQ(TlxSprigGetLastError(message, sizeof message, &position), c.code) << c.message;
    EXPECT_EQ(position, c.position) << c.message;
    EXPECT_STREQ(message, c.message);
  }
  EXPECT_TRUE(Holds("v:ran == 1")) << "the outcome before the failing ones ran";
  TlxFreeResolvedConnection(paths);
}

TEST_F(Connections, FirstFalseConditionDecidesAndOutcomesRunInOrder) {
  TlxSprigExecute("v:gold = 10");
  const uint32_t node = story.Node();
  const uint32_t first = story.Part(PrototypeRef(node), "v:gold >= 10", kSprig, "v:gold -= 4");
  const uint32_t second = story.Part(PrototypeRef(node), "v:gold >= 10", kSprig, "v:log = v:gold * 2");
  const uint32_t custom = story.Part(PrototypeRef(node), nullptr, kSprig, "v:gold = 0", kCustomScript);
  const uint32_t broken = story.Part(PrototypeRef(node), nullptr, kSprig, "v:gold +", kSprig);
  void** paths = TlxResolveConnectionWithIndirections(Object(story.Connection({first, custom, broken, second})));
  EXPECT_TRUE(TlxResolveConnectionConditions(paths[0]));
  TlxResolveConnectionOutcomes(paths[0]);
  EXPECT_TRUE(Holds("v:gold == 6")) << "custom scripts are the host's; a failing outcome is skipped";
  EXPECT_TRUE(Holds("v:log == 12")) << "outcomes run in path order";
  EXPECT_FALSE(TlxResolveConnectionConditions(paths[0])) << "the outcome changed what the condition reads";
  TlxFreeResolvedConnection(paths);
}

// The condition's text (id 1) lives in a region that is dropped and then made anew, under the
// same id, with other text: the cached parse must not be reused.
TEST_F(Connections, ReplacedScriptTextIsParsedAgain) {
  for (const char* condition : {"1", "0"}) {
    const uint16_t region = TlxBeginRegion();
    StoryBuilder builder;
    void** paths = TlxResolveConnectionWithIndirections(
        Object(builder.Connection({builder.Part(PrototypeRef(builder.Node()), condition, kSprig)})));
    EXPECT_EQ(TlxResolveConnectionConditions(paths[0]), condition[0] == '1');
    TlxFreeResolvedConnection(paths);
    TlxEndRegion();
    TlxDropRegionData(region);
  }
}

// After a first step has parsed the scripts, a step allocates only the paths it hands out: each
// path and its entries, and the result array.
TEST_F(Connections, StepAllocatesOnlyThePaths) {
  std::vector<uint32_t> choices;
  for (const char* condition : {"s:gold >= 3", "!s:heard", "s:gold < 100", "1"})
    choices.push_back(story.Connection({story.Part(PrototypeRef(story.Node()), condition, kSprig, "s:visits += 1")}));
  void* connection = Object(story.To(story.Hub({choices[0], choices[1], choices[2], choices[3]})));
  auto step = [&] {
    void** paths = TlxResolveConnectionWithIndirections(connection);
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

}  // namespace
