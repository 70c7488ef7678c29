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

void StoreString(TlxSprigValue* value, const char* text) {
  const size_t size = std::strlen(text) + 1;
  void* block = Memory::Allocate(size, Memory::kObjectPool);
  std::memcpy(block, text, size);
  value->kind = kSprigString;
  value->payload = reinterpret_cast<uintptr_t>(block);
}

enum class EStoreKind { kMap, kList };

class ValueStoreTest : public testing::TestWithParam<EStoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() == EStoreKind::kMap) {
      m_store = std::make_unique<CWeakTypeMap>(7, kStorageNamespace);
    } else {
      m_store = std::make_unique<CWeakTypeList>(9, kStorageInstance);
    }
  }
  std::unique_ptr<IWeakTypeStorage> m_store;
};

TEST_P(ValueStoreTest, EntryIsCreatedOnceAsIntegerZeroAndFoundByIdOrName) {
  TlxSprigValue* value = m_store->GetOrCreate(42u);
  EXPECT_EQ(value->kind, kSprigInteger);
  EXPECT_EQ(value->payload, 0u);
  EXPECT_EQ(value->entryFlag, 1);
  EXPECT_EQ(IWeakTypeStorage::EntryOf(*value).owner, m_store.get());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(value) % 8, 0u) << "8-byte payloads need 8-byte entries";
  value->payload = 77;
  EXPECT_EQ(m_store->GetOrCreate(42u), value);
  EXPECT_EQ(value->payload, 77u);
  const CString name("gold");
  TlxSprigValue* byName = m_store->GetOrCreate(name);
  EXPECT_EQ(byName, m_store->Find(CalculateHash(name)));
  EXPECT_TRUE(m_store->Contains(name));
  EXPECT_EQ(m_store->GetKey(byName), CalculateHash(name));
  EXPECT_EQ(m_store->GetCount(), 2u);
  m_store->Remove(name);
  EXPECT_FALSE(m_store->Contains(CalculateHash(name)));
}

// Entries stay put while others go; removing and clearing free their strings (leak check).
TEST_P(ValueStoreTest, RemoveAndClearFreeEntriesOthersStayPut) {
  std::vector<TlxSprigValue*> values;
  for (uint32_t key = 0; key < 100; ++key) StoreString(values.emplace_back(m_store->GetOrCreate(key)), "x");
  for (uint32_t key = 0; key < 100; key += 2) m_store->Remove(key);
  m_store->Remove(999u);
  EXPECT_EQ(m_store->GetCount(), 50u);
  for (uint32_t key = 1; key < 100; key += 2) {
    ASSERT_EQ(m_store->Find(key), values[key]);
    EXPECT_EQ(m_store->GetKey(values[key]), key);
  }
  EXPECT_FALSE(m_store->Contains(2u));
  m_store->Clear();
  EXPECT_EQ(m_store->Find(3u), nullptr);
  m_store->GetOrCreate(3u);
  EXPECT_EQ(m_store->GetCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Stores, ValueStoreTest, testing::Values(EStoreKind::kMap, EStoreKind::kList),
                         [](const testing::TestParamInfo<EStoreKind>& store) {
                           return store.param == EStoreKind::kMap ? "Map" : "List";
                         });

TEST(WeakTypeMap, WalksInAscendingKeyOrder) {
  CWeakTypeMap map(kGlobalStorageId, kStorageNamespace);
  for (uint32_t key : {50u, 3u, 0xFFFFFFFFu, 17u, 0u}) map.GetOrCreate(key);
  std::vector<uint32_t> keys;
  map.Walk([&](uint32_t key, TlxSprigValue*) { return keys.push_back(key), true; });
  EXPECT_EQ(keys, (std::vector<uint32_t>{0u, 3u, 17u, 50u, 0xFFFFFFFFu}));
}

TEST(WeakTypeList, KeepsCreationOrderAcrossRemovalsOfHeadAndTail) {
  CWeakTypeList list(1, kStoragePrototype);
  for (uint32_t key : {9u, 4u, 7u, 1u}) list.GetOrCreate(key);
  list.Remove(9u);
  list.Remove(1u);
  list.GetOrCreate(12u);
  std::vector<uint32_t> keys;
  list.Walk([&](uint32_t key, TlxSprigValue*) { return keys.push_back(key), true; });
  EXPECT_EQ(keys, (std::vector<uint32_t>{4u, 7u, 12u}));
  for (uint32_t key : {4u, 7u, 12u}) list.Remove(key);
  list.GetOrCreate(5u);  // head and tail were reset
  EXPECT_EQ(list.GetCount(), 1u);
}

}  // namespace
