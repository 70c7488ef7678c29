// Reference lists seen from inside: free-standing paths that grow, the import's look-up of open
// list prototypes, entry i of a referenced list, sealed lists refusing every change, and walks.
#include <cstdint>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "repository/ReferenceLists.h"
#include "repository/Repository.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace Quorin;
using QuorinTest::LibraryTest;

Repository& Repo() { return *Repository::Get(); }

TlxReference Ref(uint32_t id, EReferenceKind kind) { return TlxReference{id, static_cast<uint8_t>(kind)}; }

using ReferenceListInternalTest = LibraryTest;

// Paths outside any region grow to max(1, 2 x capacity) and never seal.
TEST_F(ReferenceListInternalTest, FreeStandingListsGrowByDoubling) {
  CReferenceList_Internal* path = CreateFreeStandingList(0);
  EXPECT_TRUE(path->IsFreeStanding());
  const uint32_t expectedCapacity[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  for (uint32_t i = 0; i < std::size(expectedCapacity); ++i) {
    EXPECT_EQ(path->AddReference(Ref(i, EReferenceKind::kPrototype)), 0u) << i;
    EXPECT_EQ(path->capacity, expectedCapacity[i]) << i;
  }
  EXPECT_EQ(path->count, 9u);
  for (uint32_t i = 0; i < 9; ++i) {
    TlxReference entry;
    ASSERT_TRUE(path->EntryAt(i, entry));
    EXPECT_EQ(entry.id, i);
  }
  TlxReference entry;
  EXPECT_FALSE(path->EntryAt(9, entry));
  DestroyFreeStandingList(path);

  CReferenceList_Internal* sized = CreateFreeStandingList(3);
  EXPECT_EQ(sized->capacity, 3u);
  DestroyFreeStandingList(sized);
}

TEST_F(ReferenceListInternalTest, SealedListRefusesEveryChange) {
  CReferenceList_Internal* list = CreateEmptyListPrototype(Repo(), 1, 1);
  EXPECT_EQ(list->AddReference(Ref(5, EReferenceKind::kBlob)), 1u);
  ASSERT_TRUE(list->IsSealed());
  const TlxReference other[2] = {Ref(1, EReferenceKind::kPrototype), Ref(2, EReferenceKind::kPrototype)};
  EXPECT_EQ(list->ReserveEntries(10), kListRefused);
  EXPECT_EQ(list->AssignEntries(other, 2), kListRefused);
  EXPECT_EQ(list->AssignList(*CreateEmptyListInstance(Repo(), 2, 0, kNoId32)), kListRefused);
  EXPECT_EQ(list->capacity, 1u);
  EXPECT_EQ(list->count, 1u);
  EXPECT_EQ(list->entries[0].id, 5u);
}

TEST_F(ReferenceListInternalTest, ImportFindsOnlyOpenListPrototypes) {
  CreateEmptyListPrototype(Repo(), 1, 2);
  CreateListPrototype(Repo(), 2, nullptr, 0);
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 2), nullptr);
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 3), nullptr);
  CReferenceList_Internal* open = FindUnsealedListPrototype(Repo(), 1);
  ASSERT_NE(open, nullptr);
  open->AddReference(Ref(1, EReferenceKind::kInstance));
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), open);
  open->AddReference(Ref(2, EReferenceKind::kInstance));
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), nullptr);

  // A repeated id: the sealed list of an earlier region does not hide the open one.
  TlxBeginRegionWithId(4);
  CReferenceList_Internal* again = CreateEmptyListPrototype(Repo(), 1, 3);
  TlxEndRegion();
  EXPECT_EQ(FindUnsealedListPrototype(Repo(), 1), again);
}

TEST_F(ReferenceListInternalTest, EntryOfAReferencedList) {
  CReferenceList_Internal* five = CreateListPrototype(Repo(), 5, nullptr, 0);
  CReferenceList_Internal* six = CreateEmptyListInstance(Repo(), 6, 0, kNoId32);
  const TlxReference entries[4] = {Ref(5, EReferenceKind::kListPrototype), Ref(6, EReferenceKind::kListInstance),
                                   Ref(5, EReferenceKind::kPrototype), Ref(7, EReferenceKind::kListPrototype)};
  CreateListPrototype(Repo(), 1, entries, 4);
  CreateListInstanceFromPrototype(Repo(), 1, 1);
  struct Case {
    uint8_t kind;
    uint32_t index;
    CReferenceList_Internal* list;
  };
  const Case cases[] = {{1, 0, five}, {1, 1, six},     {1, 2, nullptr}, {1, 3, nullptr}, {1, 4, nullptr},
                        {2, 0, five}, {2, 1, six},     {0, 0, nullptr}, {3, 0, nullptr}};
  for (const Case& c : cases) {
    const TlxListReference reference{1, c.kind};
    EXPECT_EQ(ResolveListEntry(Repo(), reference, c.index), c.list) << int{c.kind} << " #" << c.index;
  }
  const TlxListReference absent{9, 1};
  EXPECT_EQ(ResolveListEntry(Repo(), absent, 0), nullptr);
}

// A list instance may carry 0xFFFFFFFF as its prototype list id: it stays an open instance and
// leaves the instance tree when its region goes.
TEST_F(ReferenceListInternalTest, InstanceWithNoPrototypeIdStaysAnInstance) {
  CreateListPrototype(Repo(), 3, nullptr, 0);
  TlxBeginRegionWithId(2);
  CReferenceList_Internal* list = CreateEmptyListInstance(Repo(), 3, 1, kNoId32);
  TlxEndRegion();
  EXPECT_EQ(list->AddReference(Ref(1, EReferenceKind::kBlob)), 0u);
  EXPECT_FALSE(list->IsSealed());

  std::vector<uint32_t> prototypes, instances;
  WalkListPrototypes(Repo(), kAllRegions, [&](CReferenceList_Internal& l) {
    return prototypes.push_back(l.GetId()), true;
  });
  WalkListInstances(Repo(), kAllRegions, [&](CReferenceList_Internal& l) {
    return instances.push_back(l.GetId()), true;
  });
  EXPECT_EQ(prototypes, std::vector<uint32_t>{3});
  EXPECT_EQ(instances, std::vector<uint32_t>{3});

  TlxDropRegionData(2);
  EXPECT_EQ(Repo().Index().listInstances.count, 0u);
  EXPECT_EQ(Repo().Index().listPrototypes.count, 1u);
  EXPECT_NE(TlxGetListPrototype(3), nullptr);
}

TEST_F(ReferenceListInternalTest, ListsGoWithTheirRegionAndFreeTheirEntries) {
  TlxBeginRegionWithId(3);
  const TlxReference entries[3] = {};
  TlxCreateListPrototype(1, entries, 3);
  TlxCreateListInstanceFromPrototype(2, 1);
  TlxEndRegion();
  TlxCreateListPrototype(1, entries, 2);
  TlxDropRegionData(3);
  EXPECT_FALSE(TlxIsListInstanceRegistered(2));
  ASSERT_NE(TlxGetListPrototype(1), nullptr);
  EXPECT_EQ(TlxGetListPrototype(1)->count, 2u);  // the region-0 list of the same id remains
}

}  // namespace
