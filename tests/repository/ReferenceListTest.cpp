// Reference lists through the exports: sealing and capacity of list prototypes, list instances
// made, cloned and released, zero-size copies, resolution of references by kind, and the absent
// results of every list export.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;

constexpr uint32_t kNoId = 0xFFFFFFFF;
constexpr uint32_t kRefused = 0xFFFF;

enum : uint8_t { kNotSet, kPrototype, kInstance, kListPrototype, kListInstance, kBlob };

TlxReference Ref(uint32_t id, uint8_t kind) { return TlxReference{id, kind}; }

std::vector<uint64_t> Entries(const TlxReferenceList* list) {
  std::vector<uint64_t> out;
  for (uint32_t i = 0; i < list->count; ++i) {
    TlxReference entry;
    std::memcpy(&entry, reinterpret_cast<const uint8_t*>(list->entries) + 5 * i, 5);
    out.push_back(uint64_t{entry.kind} << 32 | entry.id);
  }
  return out;
}

using ReferenceListTest = LibraryTest;

// ---- List prototypes: sealing and capacity ---------------------------------------------------

TEST_F(ReferenceListTest, EmptyPrototypeSealsWhenItsCapacityIsReached) {
  TlxReferenceList* list = TlxCreateEmptyListPrototype(1, 2);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->prototypeListId, kNoId);
  EXPECT_EQ(list->capacity, 2u);
  EXPECT_EQ(list->count, 0u);
  const TlxReference a = Ref(10, kPrototype), b = Ref(11, kInstance), c = Ref(12, kBlob);
  EXPECT_EQ(TlxAddReference(list, &a), 0u);
  EXPECT_EQ(TlxAddReference(list, &b), 1u);
  EXPECT_EQ(TlxAddReference(list, &c), kRefused);
  EXPECT_EQ(list->count, 2u);
  EXPECT_EQ(Entries(list), (std::vector<uint64_t>{uint64_t{kPrototype} << 32 | 10,
                                                  uint64_t{kInstance} << 32 | 11}));
}

TEST_F(ReferenceListTest, FilledPrototypeIsSealedAtOnce) {
  const TlxReference refs[3] = {Ref(1, kPrototype), Ref(2, kListInstance), Ref(3, kNotSet)};
  TlxReferenceList* list = TlxCreateListPrototype(4, refs, 3);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 3u);
  EXPECT_EQ(list->capacity, 3u);
  EXPECT_NE(list->entries, refs);
  EXPECT_EQ(std::memcmp(list->entries, refs, 15), 0);
  const TlxReference more = Ref(9, kBlob);
  EXPECT_EQ(TlxAddReference(list, &more), kRefused);
  EXPECT_EQ(list->count, 3u);
  EXPECT_EQ(TlxGetListPrototype(4), list);
  EXPECT_TRUE(TlxIsListPrototypeRegistered(4));
  EXPECT_EQ(TlxGetListId(list), 4u);
}

// Zero-size copies allocate nothing, and a list of nothing is sealed at once as well.
TEST_F(ReferenceListTest, ZeroSizeListsHaveNoEntriesBlock) {
  TlxReferenceList* filled = TlxCreateListPrototype(1, nullptr, 0);
  ASSERT_NE(filled, nullptr);
  EXPECT_EQ(filled->entries, nullptr);
  EXPECT_EQ(filled->count, 0u);
  EXPECT_EQ(filled->capacity, 0u);
  const TlxReference ref = Ref(1, kPrototype);
  EXPECT_EQ(TlxAddReference(filled, &ref), kRefused);

  TlxReferenceList* empty = TlxCreateEmptyListPrototype(2, 0);
  EXPECT_EQ(empty->entries, nullptr);
  EXPECT_EQ(TlxAddReference(empty, &ref), kRefused);  // full at capacity 0: nothing written
  EXPECT_EQ(empty->count, 0u);

  TlxReferenceList* instance = TlxCreateListInstanceFromPrototype(3, 1);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->entries, nullptr);
  EXPECT_EQ(instance->prototypeListId, 1u);
  TlxReferenceList* clone = TlxCloneListInstance(4, 3);
  EXPECT_EQ(clone->entries, nullptr);
  EXPECT_EQ(TlxCreateEmptyListInstance(5, 0, kNoId)->entries, nullptr);
}

// ---- List instances --------------------------------------------------------------------------

TEST_F(ReferenceListTest, InstanceCopiesThePrototypeAndIsFullAtOnce) {
  const TlxReference refs[2] = {Ref(5, kPrototype), Ref(6, kPrototype)};
  TlxReferenceList* prototype = TlxCreateListPrototype(1, refs, 2);
  TlxReferenceList* instance = TlxCreateListInstanceFromPrototype(9, 1);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->prototypeListId, 1u);
  EXPECT_EQ(instance->count, 2u);
  EXPECT_EQ(instance->capacity, 2u);
  EXPECT_NE(instance->entries, prototype->entries);
  EXPECT_EQ(Entries(instance), Entries(prototype));
  const TlxReference more = Ref(7, kPrototype);
  EXPECT_EQ(TlxAddReference(instance, &more), kRefused);  // full lists in a region never grow
  EXPECT_EQ(instance->count, 2u);
  EXPECT_EQ(TlxGetListInstance(9), instance);
  EXPECT_FALSE(TlxIsListPrototypeRegistered(9));
}

TEST_F(ReferenceListTest, EmptyInstanceFillsUpToItsCapacityAndStaysOpen) {
  TlxReferenceList* list = TlxCreateEmptyListInstance(3, 3, 77);
  EXPECT_EQ(list->prototypeListId, 77u);
  for (uint32_t i = 0; i < 3; ++i) {
    const TlxReference ref = Ref(i, kInstance);
    EXPECT_EQ(TlxAddReference(list, &ref), 0u) << i;  // instances never seal
  }
  const TlxReference extra = Ref(99, kInstance);
  EXPECT_EQ(TlxAddReference(list, &extra), kRefused);
  EXPECT_EQ(list->count, 3u);
  EXPECT_EQ(list->capacity, 3u);
}

TEST_F(ReferenceListTest, CloneDescendsFromItsSourceList) {
  TlxReferenceList* source = TlxCreateEmptyListInstance(4, 2, kNoId);
  const TlxReference ref = Ref(8, kBlob);
  TlxAddReference(source, &ref);
  TlxReferenceList* clone = TlxCloneListInstance(9, 4);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->prototypeListId, 4u);
  EXPECT_EQ(clone->count, 1u);
  EXPECT_EQ(clone->capacity, 1u);
  EXPECT_EQ(Entries(clone), Entries(source));
  EXPECT_EQ(TlxCloneListInstance(10, 99), nullptr);
  EXPECT_EQ(TlxCreateListInstanceFromPrototype(11, 99), nullptr);
  EXPECT_FALSE(TlxIsListInstanceRegistered(10));
  EXPECT_FALSE(TlxIsListInstanceRegistered(11));
}

TEST_F(ReferenceListTest, ReleasedListSlotIsReusedAtTheSameAddress) {
  TlxReferenceList* first = TlxCreateEmptyListInstance(1, 4, kNoId);
  TlxCreateEmptyListInstance(2, 4, kNoId);
  TlxReleaseListInstance(1);
  EXPECT_FALSE(TlxIsListInstanceRegistered(1));
  EXPECT_EQ(TlxGetListInstance(1), nullptr);
  TlxReferenceList* reused = TlxCreateEmptyListInstance(3, 1, kNoId);
  EXPECT_EQ(reused, first);
  EXPECT_EQ(reused->capacity, 1u);
  EXPECT_EQ(reused->count, 0u);
  EXPECT_EQ(TlxGetListId(reused), 3u);
  TlxReleaseListInstance(42);  // unknown: nothing happens
  EXPECT_TRUE(TlxIsListInstanceRegistered(2));
}

TEST_F(ReferenceListTest, ListHandlesStayValidWhilePoolsGrow) {
  constexpr uint32_t kCount = 20000;
  std::vector<TlxReferenceList*> handles(kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    handles[i] = TlxCreateEmptyListPrototype(i, 1);
    const TlxReference ref = Ref(i, kPrototype);
    ASSERT_EQ(TlxAddReference(handles[i], &ref), 1u);
  }
  for (uint32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(TlxGetListPrototype(i), handles[i]);
    ASSERT_EQ(Entries(handles[i]), std::vector<uint64_t>{uint64_t{kPrototype} << 32 | i});
  }
}

// ---- Resolution ------------------------------------------------------------------------------

TEST_F(ReferenceListTest, ReferencesResolveOnlyThroughTheirKind) {
  TlxObject* prototype = TlxCreatePrototype(3, 0xFFFF, 0xFFFF);
  TlxObject* instance = TlxCreateEmptyInstance(3, 0xFFFF, 0xFFFF, kNoId);
  TlxReferenceList* listPrototype = TlxCreateListPrototype(3, nullptr, 0);
  TlxReferenceList* listInstance = TlxCreateEmptyListInstance(3, 0, kNoId);
  struct Case {
    uint8_t kind;
    TlxObject* object;
    TlxReferenceList* list;
  };
  const Case cases[] = {{kNotSet, nullptr, nullptr},      {kPrototype, prototype, nullptr},
                        {kInstance, instance, nullptr},   {kListPrototype, nullptr, listPrototype},
                        {kListInstance, nullptr, listInstance}, {kBlob, nullptr, nullptr},
                        {6, nullptr, nullptr},            {255, nullptr, nullptr}};
  for (const Case& c : cases) {
    const TlxReference ref = Ref(3, c.kind);
    EXPECT_EQ(TlxResolveObjectRef(&ref), c.object) << int{c.kind};
    EXPECT_EQ(TlxResolveListRef(&ref), c.list) << int{c.kind};
    const TlxReference absent = Ref(4, c.kind);
    EXPECT_EQ(TlxResolveObjectRef(&absent), nullptr);
    EXPECT_EQ(TlxResolveListRef(&absent), nullptr);
  }
  // List references use their own kind numbers.
  const TlxListReference toPrototype{3, 1}, toInstance{3, 2}, unset{3, 0}, wild{3, 3};
  EXPECT_EQ(TlxResolveListRef2(&toPrototype), listPrototype);
  EXPECT_EQ(TlxResolveListRef2(&toInstance), listInstance);
  EXPECT_EQ(TlxResolveListRef2(&unset), nullptr);
  EXPECT_EQ(TlxResolveListRef2(&wild), nullptr);
}

// ---- Absent results --------------------------------------------------------------------------

TEST_F(ReferenceListTest, NullArgumentsGiveAbsentResults) {
  TlxReferenceList* list = TlxCreateEmptyListInstance(1, 2, kNoId);
  const TlxReference ref = Ref(1, kPrototype);
  EXPECT_EQ(TlxAddReference(nullptr, &ref), kRefused);
  EXPECT_EQ(TlxAddReference(list, nullptr), kRefused);
  EXPECT_EQ(list->count, 0u);
  EXPECT_EQ(TlxResolveObjectRef(nullptr), nullptr);
  EXPECT_EQ(TlxResolveListRef(nullptr), nullptr);
  EXPECT_EQ(TlxResolveListRef2(nullptr), nullptr);
  EXPECT_EQ(TlxGetListPrototype(5), nullptr);
  EXPECT_EQ(TlxGetListInstance(5), nullptr);
}

void ExpectListExportsAbsent() {
  const uint64_t before = Counters().allocateCalls.load();
  const TlxReference refs[2] = {Ref(1, kPrototype), Ref(2, kPrototype)};
  const TlxListReference listRef{1, 1};
  EXPECT_EQ(TlxCreateListPrototype(1, refs, 2), nullptr);
  EXPECT_EQ(TlxCreateEmptyListPrototype(2, 4), nullptr);
  EXPECT_FALSE(TlxIsListPrototypeRegistered(1));
  EXPECT_EQ(TlxGetListPrototype(1), nullptr);
  EXPECT_EQ(TlxCreateListInstanceFromPrototype(3, 1), nullptr);
  EXPECT_EQ(TlxCreateEmptyListInstance(4, 4, kNoId), nullptr);
  EXPECT_EQ(TlxCloneListInstance(5, 4), nullptr);
  TlxReleaseListInstance(4);
  EXPECT_FALSE(TlxIsListInstanceRegistered(4));
  EXPECT_EQ(TlxGetListInstance(4), nullptr);
  uint8_t storage[5 * 4] = {};
  TlxReferenceList fake{kNoId, 0, reinterpret_cast<TlxReference*>(storage), 4};
  EXPECT_EQ(TlxAddReference(&fake, &refs[0]), kRefused);
  EXPECT_EQ(fake.count, 0u);
  EXPECT_EQ(TlxResolveObjectRef(&refs[0]), nullptr);
  EXPECT_EQ(TlxResolveListRef(&refs[0]), nullptr);
  EXPECT_EQ(TlxResolveListRef2(&listRef), nullptr);
  EXPECT_EQ(Counters().allocateCalls.load(), before);
}

TEST(ReferenceListExportsBeforeStart, GiveAbsentResults) { ExpectListExportsAbsent(); }

TEST(ReferenceListExportsAfterShutdown, GiveAbsentResults) {
  ASSERT_TRUE(StartLibrary());
  TlxCreateEmptyListPrototype(1, 2);
  TlxShutdown();
  ExpectListExportsAbsent();
}

}  // namespace
