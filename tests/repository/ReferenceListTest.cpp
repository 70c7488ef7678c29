// Reference lists: sealing and capacity of list prototypes, list instances made, cloned and
// released, zero-size copies, free-standing paths, resolution by kind, the import's and the
// resolver's look-ups, walks, and the absent results of every list export.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/ReferenceLists.h"
#include "tests/repository/ItemTestSupport.h"
#include "tests/repository/StoryBuilder.h"

namespace {

using namespace QuorinTest;
using namespace Quorin;

constexpr uint32_t kNoId = 0xFFFFFFFF, kRefused = 0xFFFF;

enum : uint8_t { kNotSet, kPrototype, kInstance, kListPrototype, kListInstance, kBlob };

using ReferenceListTest = LibraryTest;

// An empty list prototype is filled up to its capacity, then sealed; a filled one is sealed at
// once. A sealed list refuses every change.
TEST_F(ReferenceListTest, ListPrototypesSealWhenFull) {
  TlxReferenceList* list = TlxCreateEmptyListPrototype(1, 2);
  EXPECT_TRUE(list->prototypeListId == kNoId && list->capacity == 2 && list->count == 0);
  const TlxReference refs[3] = {{10, kPrototype}, {11, kInstance}, {12, kBlob}};
  EXPECT_EQ(TlxAddReference(list, &refs[0]), 0u);
  EXPECT_EQ(TlxAddReference(list, &refs[1]), 1u);
  EXPECT_EQ(TlxAddReference(list, &refs[2]), kRefused);
  EXPECT_EQ(Entries(list), (EntryList{{10, kPrototype}, {11, kInstance}}));
  TlxReferenceList* filled = TlxCreateListPrototype(4, refs, 3);
  EXPECT_TRUE(filled->count == 3 && filled->capacity == 3 && filled->entries != refs);
  EXPECT_EQ(std::memcmp(filled->entries, refs, 15), 0);
  EXPECT_EQ(TlxAddReference(filled, &refs[0]), kRefused);
  EXPECT_EQ(TlxGetListPrototype(4), filled);
  EXPECT_EQ(TlxGetListId(filled), 4u);
  CReferenceList_Internal* sealed = FindListPrototype(Repo(), 4);
  const CReferenceList_Internal* other = CreateEmptyListInstance(Repo(), 2, 0, kNoId32);
  EXPECT_EQ(sealed->ReserveEntries(10), kListRefused);
  EXPECT_EQ(sealed->AssignEntries(refs, 2), kListRefused);
  EXPECT_EQ(sealed->AssignList(*other), kListRefused);
  EXPECT_EQ(Entries(filled).size(), 3u);
}

// A list instance copies its prototype and is full at once; an empty one fills up to its
// capacity and never seals; lists in a region never grow; a clone descends from its source.
TEST_F(ReferenceListTest, ListInstancesFillUpToTheirCapacityAndNeverSeal) {
  const TlxReference refs[2] = {{5, kPrototype}, {6, kPrototype}};
  TlxReferenceList* prototype = TlxCreateListPrototype(1, refs, 2);
  TlxReferenceList* copy = TlxCreateListInstanceFromPrototype(9, 1);
  EXPECT_TRUE(copy->prototypeListId == 1 && copy->count == 2 && copy->capacity == 2 && copy->entries != prototype->entries);
  EXPECT_EQ(Entries(copy), Entries(prototype));
  EXPECT_EQ(TlxAddReference(copy, &refs[0]), kRefused);
  EXPECT_FALSE(TlxIsListPrototypeRegistered(9));
  TlxReferenceList* open = TlxCreateEmptyListInstance(3, 3, 77);
  EXPECT_EQ(open->prototypeListId, 77u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(TlxAddReference(open, &refs[i % 2]), 0u) << i;
  EXPECT_EQ(TlxAddReference(open, &refs[0]), kRefused);
  EXPECT_TRUE(open->count == 3 && open->capacity == 3);
  TlxReferenceList* clone = TlxCloneListInstance(10, 3);
  EXPECT_TRUE(clone->prototypeListId == 3 && clone->count == 3 && clone->capacity == 3);
  EXPECT_EQ(Entries(clone), Entries(open));
  EXPECT_EQ(TlxCloneListInstance(11, 99), nullptr);
  EXPECT_EQ(TlxCreateListInstanceFromPrototype(12, 99), nullptr);
  EXPECT_FALSE(TlxIsListInstanceRegistered(11) || TlxIsListInstanceRegistered(12));
}

// Zero-size copies allocate nothing, and a list of nothing is sealed (full) at once as well.
TEST_F(ReferenceListTest, ZeroSizeListsHaveNoEntriesBlock) {
  const TlxReference ref{1, kPrototype};
  TlxReferenceList* filled = TlxCreateListPrototype(1, nullptr, 0);
  TlxReferenceList* empty = TlxCreateEmptyListPrototype(2, 0);
  for (TlxReferenceList* list : {filled, empty}) {
    EXPECT_TRUE(list->entries == nullptr && list->count == 0 && list->capacity == 0);
    EXPECT_EQ(TlxAddReference(list, &ref), kRefused);
  }
  EXPECT_EQ(TlxCreateListInstanceFromPrototype(3, 1)->entries, nullptr);
  EXPECT_EQ(TlxCloneListInstance(4, 3)->entries, nullptr);
  EXPECT_EQ(TlxCreateEmptyListInstance(5, 0, kNoId)->entries, nullptr);
}

TEST_F(ReferenceListTest, ReleasedListSlotIsReusedAtTheSameAddress) {
  TlxReferenceList* first = TlxCreateEmptyListInstance(1, 4, kNoId);
  TlxCreateEmptyListInstance(2, 4, kNoId);
  TlxReleaseListInstance(1);
  TlxReleaseListInstance(42);  // unknown: nothing happens
  EXPECT_EQ(TlxGetListInstance(1), nullptr);
  TlxReferenceList* reused = TlxCreateEmptyListInstance(3, 1, kNoId);
  EXPECT_EQ(reused, first);
  EXPECT_TRUE(reused->capacity == 1 && reused->count == 0 && TlxGetListId(reused) == 3);
  EXPECT_TRUE(TlxIsListInstanceRegistered(2));
}

// Paths outside any region grow to max(1, 2 x capacity) and never seal.
TEST_F(ReferenceListTest, FreeStandingListsGrowByDoubling) {
  CReferenceList_Internal* path = CreateFreeStandingList(0);
  const uint32_t expectedCapacity[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  for (uint32_t i = 0; i < std::size(expectedCapacity); ++i) {
    EXPECT_EQ(path->AddReference(TlxReference{i, kPrototype}), 0u) << i;
    EXPECT_EQ(path->capacity, expectedCapacity[i]) << i;
  }
  TlxReference entry;
  for (uint32_t i = 0; i < 9; ++i) EXPECT_TRUE(path->EntryAt(i, entry) && entry.id == i);
  EXPECT_FALSE(path->EntryAt(9, entry));
  DestroyFreeStandingList(path);
}

TEST_F(ReferenceListTest, ReferencesResolveOnlyThroughTheirKind) {
  TlxObject* prototype = TlxCreatePrototype(3, 0xFFFF, 0xFFFF);
  TlxObject* instance = TlxCreateEmptyInstance(3, 0xFFFF, 0xFFFF, kNoId);
  TlxReferenceList* listPrototype = TlxCreateListPrototype(3, nullptr, 0);
  TlxReferenceList* listInstance = TlxCreateEmptyListInstance(3, 0, kNoId);
  const struct { uint8_t kind; TlxObject* object; TlxReferenceList* list; } cases[] = {
      {kNotSet, nullptr, nullptr}, {kPrototype, prototype, nullptr}, {kInstance, instance, nullptr},
      {kListPrototype, nullptr, listPrototype}, {kListInstance, nullptr, listInstance}, {kBlob, nullptr, nullptr},
      {6, nullptr, nullptr}, {255, nullptr, nullptr}};
  for (const auto& c : cases) {
    const TlxReference ref{3, c.kind}, absent{4, c.kind};
    EXPECT_EQ(TlxResolveObjectRef(&ref), c.object) << int{c.kind};
    EXPECT_EQ(TlxResolveListRef(&ref), c.list) << int{c.kind};
    EXPECT_TRUE(TlxResolveObjectRef(&absent) == nullptr && TlxResolveListRef(&absent) == nullptr);
  }
  // List references use their own kind numbers.
  const TlxListReference toPrototype{3, 1}, toInstance{3, 2}, unset{3, 0}, wild{3, 3};
  EXPECT_EQ(TlxResolveListRef2(&toPrototype), listPrototype);
  EXPECT_EQ(TlxResolveListRef2(&toInstance), listInstance);
  EXPECT_TRUE(TlxResolveListRef2(&unset) == nullptr && TlxResolveListRef2(&wild) == nullptr);
}

// The import fills list prototypes while they are open; a repeated id's sealed list of an
// earlier region does not hide the open one.
TEST_F(ReferenceListTest, ImportFindsOnlyOpenListPrototypes) {
  CReferenceList_Internal* open = CreateEmptyListPrototype(Repo(), 1, 2);
  CreateListPrototype(Repo(), 2, nullptr, 0);
  EXPECT_TRUE(FindUnsealedListPrototype(Repo(), 2) == nullptr && FindUnsealedListPrototype(Repo(), 3) == nullptr);
  open->AddReference(TlxReference{1, kInstance});
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), open);
  open->AddReference(TlxReference{2, kInstance});
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), nullptr);
  TlxBeginRegionWithId(4);
  CReferenceList_Internal* again = CreateEmptyListPrototype(Repo(), 1, 3);
  TlxEndRegion();
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), again);
}

TEST_F(ReferenceListTest, EntryOfAReferencedList) {
  CReferenceList_Internal* five = CreateListPrototype(Repo(), 5, nullptr, 0);
  CReferenceList_Internal* six = CreateEmptyListInstance(Repo(), 6, 0, kNoId32);
  const TlxReference entries[4] = {{5, kListPrototype}, {6, kListInstance}, {5, kPrototype}, {7, kListPrototype}};
  CreateListPrototype(Repo(), 1, entries, 4);
  CreateListInstanceFromPrototype(Repo(), 1, 1);
  const struct { uint8_t kind; uint32_t index; CReferenceList_Internal* list; } cases[] = {
      {1, 0, five}, {1, 1, six}, {1, 2, nullptr}, {1, 3, nullptr}, {1, 4, nullptr},
      {2, 0, five}, {2, 1, six}, {0, 0, nullptr}, {3, 0, nullptr}};
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveListEntry(Repo(), TlxListReference{1, c.kind}, c.index), c.list) << int{c.kind} << " #" << c.index;
  }
  EXPECT_EQ(ResolveListEntry(Repo(), TlxListReference{9, 1}, 0), nullptr);
}

// A list instance may carry 0xFFFFFFFF as its prototype list id: it stays an open instance in
// every walk. Lists go with their region, freeing their entries, and take only their own node: a
// same-id list of region 0 remains.
TEST_F(ReferenceListTest, ListsOfADroppedRegionGoAndOthersOfTheirIdsRemain) {
  const TlxReference entries[3] = {};
  CreateListPrototype(Repo(), 3, entries, 2);
  TlxBeginRegionWithId(2);
  CReferenceList_Internal* list = CreateEmptyListInstance(Repo(), 3, 1, kNoId32);
  TlxCreateListPrototype(3, entries, 3);
  TlxEndRegion();
  EXPECT_EQ(list->AddReference(TlxReference{1, kBlob}), 0u);
  EXPECT_FALSE(list->IsSealed());
  std::vector<uint32_t> prototypes, instances;
  WalkListPrototypes(Repo(), kAllRegions, [&](CReferenceList_Internal& l) { return prototypes.push_back(l.count), true; });
  WalkListInstances(Repo(), kAllRegions, [&](CReferenceList_Internal& l) { return instances.push_back(l.count), true; });
  EXPECT_EQ(prototypes, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(instances, std::vector<uint32_t>{1});
  TlxDropRegionData(2);
  EXPECT_EQ(Repo().Index().listInstances.count, 0u);
  ASSERT_EQ(Repo().Index().listPrototypes.count, 1u);
  EXPECT_EQ(TlxGetListPrototype(3)->count, 2u);
}

void ExpectListExportsAbsent() {
  const uint64_t before = Counters().allocateCalls.load();
  const TlxReference refs[2] = {{1, kPrototype}, {2, kPrototype}};
  const TlxListReference listRef{1, 1};
  EXPECT_EQ(TlxCreateListPrototype(1, refs, 2), nullptr);
  EXPECT_EQ(TlxCreateEmptyListPrototype(2, 4), nullptr);
  EXPECT_FALSE(TlxIsListPrototypeRegistered(1));
  EXPECT_EQ(TlxCreateListInstanceFromPrototype(3, 1), nullptr);
  EXPECT_EQ(TlxCreateEmptyListInstance(4, 4, kNoId), nullptr);
  EXPECT_EQ(TlxCloneListInstance(5, 4), nullptr);
  TlxReleaseListInstance(4);
  EXPECT_FALSE(TlxIsListInstanceRegistered(4));
  EXPECT_TRUE(TlxGetListPrototype(1) == nullptr && TlxGetListInstance(4) == nullptr);
  EXPECT_TRUE(TlxResolveObjectRef(&refs[0]) == nullptr && TlxResolveListRef(&refs[0]) == nullptr);
  EXPECT_EQ(TlxResolveListRef2(&listRef), nullptr);
  uint8_t storage[5 * 4] = {};
  TlxReferenceList fake{kNoId, 0, reinterpret_cast<TlxReference*>(storage), 4};
  EXPECT_EQ(TlxAddReference(&fake, &refs[0]), kRefused);
  EXPECT_EQ(fake.count, 0u);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

// Null arguments give the absent results; so does every list export before start-up and after
// shutdown, allocating nothing.
TEST(ReferenceListExports, GiveAbsentResultsBeforeStartForNullArgumentsAndAfterShutdown) {
  ExpectListExportsAbsent();
  ASSERT_TRUE(StartLibrary());
  TlxReferenceList* list = TlxCreateEmptyListInstance(1, 2, kNoId);
  const TlxReference ref{1, kPrototype};
  EXPECT_TRUE(TlxAddReference(nullptr, &ref) == kRefused && TlxAddReference(list, nullptr) == kRefused);
  EXPECT_EQ(list->count, 0u);
  EXPECT_TRUE(TlxResolveObjectRef(nullptr) == nullptr && TlxResolveListRef(nullptr) == nullptr);
  EXPECT_TRUE(TlxResolveListRef2(nullptr) == nullptr && TlxGetListPrototype(5) == nullptr && TlxGetListInstance(5) == nullptr);
  TlxShutdown();
  ExpectListExportsAbsent();
}

}  // namespace
