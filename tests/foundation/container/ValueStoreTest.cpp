// Value stores: both implementations behind the one interface, plus what each adds.
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/container/WeakTypeStorage.h"
#include "foundation/memory/Memory.h"

namespace {

using namespace Bravik;

// The stores' own record and policy: kind 4 owns a text block, which the store frees.
constexpr uint8_t kSprigInteger = 2;
constexpr uint8_t kSprigString = 4;
struct TlxSprigValue {
  uint64_t payload;
  uint8_t kind;
  uint8_t entryFlag;
};
struct SPolicy {
  using Record = TlxSprigValue;
  static void Initialize(TlxSprigValue& value) { value = TlxSprigValue{0, kSprigInteger, 1}; }
  static void Release(TlxSprigValue& value) {
    if (value.kind == kSprigString) Memory::Free(reinterpret_cast<void*>(value.payload));
    value = TlxSprigValue{0, 5, 1};
  }
};
using IWeakTypeStorage = TWeakTypeStorage<SPolicy>;
using CWeakTypeMap = TWeakTypeMap<SPolicy>;
using CWeakTypeList = TWeakTypeList<SPolicy>;

char* LibraryText(const char* text) {
  const size_t size = std::strlen(text) + 1;
  char* block = static_cast<char*>(Memory::Allocate(size, Memory::kObjectPool));
  std::memcpy(block, text, size);
  return block;
}

void StoreString(TlxSprigValue* value, const char* text) {
  value->kind = kSprigString;
  value->payload = reinterpret_cast<uintptr_t>(LibraryText(text));
}

enum class StoreKind { kMap, kList };

class ValueStoreTest : public testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() == StoreKind::kMap) {
      m_store = std::make_unique<CWeakTypeMap>(7, kStorageNamespace);
    } else {
      m_store = std::make_unique<CWeakTypeList>(9, kStorageInstance);
    }
  }
  void TearDown() override { m_store.reset(); }
  std::unique_ptr<IWeakTypeStorage> m_store;
};

TEST_P(ValueStoreTest, NewEntryIsIntegerZeroMarkedAsEntry) {
  TlxSprigValue* value = m_store->GetOrCreate(42u);
  EXPECT_EQ(value->kind, kSprigInteger);
  EXPECT_EQ(value->payload, 0u);
  EXPECT_EQ(value->entryFlag, 1);
  EXPECT_EQ(IWeakTypeStorage::EntryOf(*value).owner, m_store.get());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(value) % 8, 0u) << "8-byte payloads need 8-byte entries";
}

TEST_P(ValueStoreTest, GetOrCreateTwiceGivesSameValue) {
  TlxSprigValue* first = m_store->GetOrCreate(5u);
  first->payload = 77;
  TlxSprigValue* second = m_store->GetOrCreate(5u);
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->payload, 77u);
  EXPECT_EQ(m_store->GetCount(), 1u);
}

TEST_P(ValueStoreTest, NameFormsHashTheName) {
  const CString name("gold");
  TlxSprigValue* byName = m_store->GetOrCreate(name);
  EXPECT_EQ(byName, m_store->GetOrCreate(CalculateHash(name)));
  EXPECT_TRUE(m_store->Contains(name));
  EXPECT_TRUE(m_store->Contains(CalculateHash(name)));
  EXPECT_EQ(m_store->GetKey(byName), CalculateHash(name));
  m_store->Remove(name);
  EXPECT_FALSE(m_store->Contains(name));
}

TEST_P(ValueStoreTest, RemoveFreesStringAndIgnoresAbsentKeys) {
  const uint64_t live = Memory::GetMemoryStatistics().liveBlocks;
  StoreString(m_store->GetOrCreate(1u), "some text");
  m_store->GetOrCreate(2u);
  m_store->Remove(99u);
  EXPECT_EQ(m_store->GetCount(), 2u);
  m_store->Remove(1u);
  EXPECT_EQ(m_store->GetCount(), 1u);
  EXPECT_FALSE(m_store->Contains(1u));
  EXPECT_TRUE(m_store->Contains(2u));
  m_store->Remove(2u);
  EXPECT_EQ(Memory::GetMemoryStatistics().liveBlocks, live);
}

TEST_P(ValueStoreTest, ClearFreesEveryEntryAndStoreStaysUsable) {
  for (uint32_t key = 0; key < 50; ++key) StoreString(m_store->GetOrCreate(key * 31), "x");
  m_store->Clear();
  EXPECT_EQ(m_store->GetCount(), 0u);
  EXPECT_FALSE(m_store->Contains(31u));
  EXPECT_EQ(m_store->Find(31u), nullptr);
  m_store->GetOrCreate(3u);
  EXPECT_EQ(m_store->GetCount(), 1u);
}

TEST_P(ValueStoreTest, ValuesStayPutWhileOthersComeAndGo) {
  std::vector<TlxSprigValue*> values;
  for (uint32_t key = 0; key < 100; ++key) {
    values.push_back(m_store->GetOrCreate(key));
    values.back()->payload = key;
  }
  for (uint32_t key = 0; key < 100; key += 2) m_store->Remove(key);
  for (uint32_t key = 1; key < 100; key += 2) {
    EXPECT_EQ(m_store->Find(key), values[key]);
    EXPECT_EQ(values[key]->payload, key);
    EXPECT_EQ(m_store->GetKey(values[key]), key);
  }
  EXPECT_EQ(m_store->GetCount(), 50u);
}

INSTANTIATE_TEST_SUITE_P(Stores, ValueStoreTest, testing::Values(StoreKind::kMap, StoreKind::kList),
                         [](const testing::TestParamInfo<StoreKind>& param) {
                           return param.param == StoreKind::kMap ? "Map" : "List";
                         });

TEST(WeakTypeMap, WalksInAscendingKeyOrder) {
  CWeakTypeMap map(kGlobalStorageId, kStorageNamespace);
  for (uint32_t key : {50u, 3u, 0xFFFFFFFFu, 17u, 0u}) map.GetOrCreate(key);
  std::vector<uint32_t> keys;
  map.Walk([&](uint32_t key, TlxSprigValue*) { return keys.push_back(key), true; });
  EXPECT_EQ(keys, (std::vector<uint32_t>{0u, 3u, 17u, 50u, 0xFFFFFFFFu}));
  EXPECT_EQ(map.GetId(), kGlobalStorageId);
  EXPECT_EQ(map.GetKind(), kStorageNamespace);
}

TEST(WeakTypeList, KeepsCreationOrderAcrossRemovals) {
  CWeakTypeList list(1, kStoragePrototype);
  for (uint32_t key : {9u, 4u, 7u, 1u}) list.GetOrCreate(key);
  list.Remove(9u);  // head
  list.Remove(1u);  // tail
  list.GetOrCreate(12u);
  std::vector<uint32_t> keys;
  list.Walk([&](uint32_t key, TlxSprigValue*) { return keys.push_back(key), true; });
  EXPECT_EQ(keys, (std::vector<uint32_t>{4u, 7u, 12u}));
  list.Remove(4u);
  list.Remove(7u);
  list.Remove(12u);
  EXPECT_EQ(list.GetCount(), 0u);
  list.GetOrCreate(5u);  // head and tail were reset
  EXPECT_EQ(list.GetCount(), 1u);
}

}  // namespace
