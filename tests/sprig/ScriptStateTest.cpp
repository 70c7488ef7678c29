// Script state: the global store, namespaces, function tables, and the object forms routed
// through an object resolver.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/sprig/SprigTestSupport.h"

namespace {

using namespace SprigTest;
using Bravik::CString;

void ReturnFirst(const SprigCallable&, TlxSprigValue& r, const TlxSprigValue*, uint64_t) { SetString(r, "first"); }
void ReturnSecond(const SprigCallable&, TlxSprigValue& r, const TlxSprigValue*, uint64_t) { SetString(r, "second"); }
void ReturnContext(const SprigCallable& self, TlxSprigValue& r, const TlxSprigValue*, uint64_t) {
  SetInteger(r, static_cast<int32_t>(self.context));
}

TEST_F(SprigFixture, GlobalVariablesAreCreatedOnFirstUse) {
  TlxSprigValue value = MakeInvalidValue();
  EXPECT_FALSE(state.VariableExists(CString("x")));
  state.GetVariable(CString("x"), true, value);
  ASSERT_EQ(value.kind, kSprigReference);
  EXPECT_EQ(KindOf(value), kSprigInteger);
  EXPECT_EQ(AsInteger(value), 0);
  EXPECT_TRUE(state.VariableExists(CString("x")));
  EXPECT_EQ(state.GetGlobals().GetCount(), 1u);
}

TEST_F(SprigFixture, NamespacesAreCreatedByLookUpButNotByExistenceTests) {
  EXPECT_FALSE(state.VariableExists(CString("nosuch:x")));
  EXPECT_EQ(state.GetNamespaceCount(), 0u);
  TlxSprigValue value = MakeInvalidValue();
  state.GetVariable(CString("nosuch:x"), true, value);
  EXPECT_EQ(KindOf(value), kSprigInteger);
  EXPECT_EQ(state.GetNamespaceCount(), 1u);
  EXPECT_TRUE(state.VariableExists(CString("nosuch:x")));
  EXPECT_FALSE(state.VariableExists(CString("nosuch:y")));
  EXPECT_FALSE(state.VariableExists(CString("x")));  // a different store
}

TEST_F(SprigFixture, ReleasingANamespaceDestroysItsVariablesAndFunctions) {
  EXPECT_EQ(Run("ns:a = \"text\", ns:b = 2, c = 3"), "Integer 3");
  state.BindFunction(SprigCallable{&ReturnContext, 1}, CString("ns.F"));
  EXPECT_EQ(Run("{ns.F}"), "Integer 1");
  state.ReleaseNamespace(Bravik::CalculateHash(CString("ns")));
  state.ReleaseNamespace(Bravik::CalculateHash(CString("ns")));  // nothing left: no effect
  EXPECT_FALSE(state.VariableExists(CString("ns:a")));
  EXPECT_EQ(Run("{ns.F}"), "Invalid");
  EXPECT_EQ(Variable("c"), "Integer 3");
}

TEST_F(SprigFixture, NamespacesWalkInAscendingHashOrder) {
  Run("b:x = 1, a:x = 1, zz:x = 1, q:q = 1");
  std::vector<uint32_t> hashes;
  state.WalkNamespaces([&](uint32_t hash, CNamespace& space) {
    EXPECT_EQ(space.variables.GetId(), hash);
    return hashes.push_back(hash), true;
  });
  ASSERT_EQ(hashes.size(), 4u);
  EXPECT_TRUE(std::is_sorted(hashes.begin(), hashes.end()));
}

TEST_F(SprigFixture, FirstBindingOfANameStays) {
  state.BindFunction(SprigCallable{&ReturnFirst, 0}, CString("Math.Min"));
  state.BindFunction(SprigCallable{&ReturnSecond, 0}, CString("Math.Min"));
  state.BindFunction(SprigCallable{&ReturnSecond, 0}, CString("Plain"));
  state.BindFunction(SprigCallable{&ReturnContext, 42}, CString("A.B.C"));
  EXPECT_EQ(Run("{Math.Min 1}"), "String first");
  EXPECT_EQ(Run("{Plain}"), "String second");
  EXPECT_EQ(Run("{A.B.C}"), "Integer 42");  // function B.C of namespace A
  EXPECT_NE(state.FindNamespace(Bravik::CalculateHash(CString("A"))), nullptr);
  TlxSprigValue result = MakeInvalidValue();
  state.CallFunction(CString("A.B.C"), nullptr, 0, result);
  EXPECT_EQ(AsInteger(result), 42);
  state.CallFunction(CString("Missing.Fn"), nullptr, 0, result);
  EXPECT_EQ(result.kind, kSprigInvalid);
  EXPECT_EQ(state.FindNamespace(Bravik::CalculateHash(CString("Missing"))), nullptr);
}

TEST_F(SprigFixture, ClearEmptiesEverythingAndStaysUsable) {
  Run("a = \"s\", n:b = 1");
  state.BindFunction(SprigCallable{&ReturnFirst, 0}, CString("F"));
  state.Clear();
  EXPECT_EQ(state.GetGlobals().GetCount(), 0u);
  EXPECT_EQ(state.GetNamespaceCount(), 0u);
  EXPECT_EQ(Run("{F}"), "Invalid");
  EXPECT_EQ(Run("a + 1"), "Integer 1");
}

// ---- Object forms ----

TEST_F(SprigFixture, ObjectFormsWithoutResolverAreAbsent) {
  EXPECT_EQ(Run("0x5:$Count"), "E7@0 Object 0x5 not found.");
  EXPECT_EQ(Run("1 + $0x7:var"), "E10@4 Namespace $0x7 not found.");
  EXPECT_EQ(Run("ns:$member"), "E7@0 Object ns not found.");
  EXPECT_EQ(Variable("0x5:$Count"), "Invalid");
  EXPECT_EQ(Variable("$0x7:var"), "Invalid");
  EXPECT_FALSE(state.VariableExists(CString("0x5:$Count")));
  EXPECT_FALSE(state.VariableExists(CString("$0x7:var")));
  EXPECT_EQ(Run("0x5:$Count = 3"), "Integer 3");
}

// Instance 5 has the members Count (7) and Link (a reference type); prototype 7 exists.
class FakeResolver : public IObjectResolver {
 public:
  ~FakeResolver() override {
    for (auto& [key, store] : stores) delete store;
  }
  IWeakTypeStorage* GetBoundStore(bool prototype, uint32_t id, bool create) override {
    if (!Exists(prototype, id)) return nullptr;
    auto key = std::make_pair(prototype, id);
    auto found = stores.find(key);
    if (found != stores.end()) return found->second;
    if (!create) return nullptr;
    auto* store = new CWeakTypeList(
        id, prototype ? Bravik::kStoragePrototype : Bravik::kStorageInstance);
    stores[key] = store;
    return store;
  }
  EMemberRead ReadMember(bool prototype, uint32_t id, uint32_t memberHash,
                         TlxSprigValue& out) override {
    if (!Exists(prototype, id)) return EMemberRead::kObjectMissing;
    if (memberHash == Bravik::CalculateHash(CString("Link"))) return EMemberRead::kTypeUnreadable;
    if (memberHash != Bravik::CalculateHash(CString("Count"))) return EMemberRead::kMemberMissing;
    SetInteger(out, count);
    return EMemberRead::kRead;
  }
  void RecordName(uint32_t hash, const Bravik::IString& name) override {
    EXPECT_EQ(hash, Bravik::CalculateHash(name));
    names.insert(static_cast<const char*>(name.GetData()));
  }
  static bool Exists(bool prototype, uint32_t id) { return prototype ? id == 7 : id == 5; }

  int32_t count = 7;
  std::map<std::pair<bool, uint32_t>, CWeakTypeList*> stores;
  std::set<std::string> names;
};

class ObjectBindingTest : public SprigFixture {
 protected:
  void SetUp() override { state.SetObjectResolver(&resolver); }
  void TearDown() override { state.Clear(); }
  FakeResolver resolver;
};

TEST_F(ObjectBindingTest, MembersAreReadNotWritten) {
  EXPECT_EQ(Run("0x5:$Count"), "Integer 7");
  EXPECT_EQ(Run("0x5:$Count + 1"), "Integer 8");
  EXPECT_EQ(Run("0x5:$Count = 3"), "Integer 3");
  EXPECT_EQ(Run("0x5:$Count"), "Integer 7");
  EXPECT_EQ(Run("1 + 0x5:$Nope"), "E7@4 Member Nope not found.");
  EXPECT_EQ(Run("0x5:$Link"), "E12@0 Unknown type for member Link.");
  EXPECT_EQ(Run("0x6:$Count"), "E7@0 Object 0x6 not found.");
  EXPECT_EQ(Run("$0x5:$Count"), "E7@0 Object $0x5 not found.");
  EXPECT_TRUE(state.VariableExists(CString("0x5:$Count")));
  EXPECT_TRUE(state.VariableExists(CString("0x5:$Link")));
  EXPECT_FALSE(state.VariableExists(CString("0x5:$Nope")));
  EXPECT_FALSE(state.VariableExists(CString("0x6:$Count")));
}

TEST_F(ObjectBindingTest, BoundVariablesLiveInTheObjectsStore) {
  EXPECT_FALSE(state.VariableExists(CString("$0x7:var")));
  EXPECT_EQ(Run("$0x7:var = 4"), "Integer 4");
  EXPECT_EQ(Run("$0x7:var * 2"), "Integer 8");
  EXPECT_TRUE(state.VariableExists(CString("$0x7:var")));
  EXPECT_FALSE(state.VariableExists(CString("0x7:var")));  // instance 7 does not exist
  EXPECT_EQ(Run("0x5:v = \"i\""), "String i");
  ASSERT_EQ(resolver.stores.size(), 2u);
  EXPECT_EQ((resolver.stores[{true, 7}]->GetKind()), Bravik::kStoragePrototype);
  EXPECT_EQ(Run("x + 0x99:v"), "E10@4 Namespace 0x99 not found.");
  EXPECT_EQ(Variable("0x99:v"), "Invalid");
  EXPECT_EQ(Run("0x100000005:v"), "E10@0 Namespace 0x100000005 not found.");
}

TEST_F(ObjectBindingTest, NamesUsedThroughTextAreRecorded) {
  Run("gold = 1, ns:flag = 2, 0x5:local = 3");
  EXPECT_EQ(resolver.names, (std::set<std::string>{"gold", "ns", "flag", "local"}));
}

}  // namespace
