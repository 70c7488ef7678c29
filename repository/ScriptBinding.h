// The script state of the Repository and what ties scripts to stored objects: the variable
// stores bound to prototypes and instances (kept by the object's region), member reads of stored
// objects, recorded names, host functions bound by the host, and the walks the interchange
// writer needs. Stored References never outlive their target store: destroying a store (a
// released namespace, a released instance, a dropped region) first turns every stored
// Reference into it into Invalid.
#pragma once

#include <algorithm>
#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "foundation/container/Array.h"
#include "foundation/container/MapTree.h"
#include "foundation/container/WeakTypeStorage.h"
#include "repository/Repository.h"
#include "sprig/ScriptState.h"
#include "sprig/Value.h"

namespace Quorin {

// The Repository's script state, created on first use and destroyed with the index (clear,
// shutdown). Raises std::bad_alloc.
Sprig::CScriptState& GetScriptState(Repository& repository);
// The state if one has been created, else null; never creates.
Sprig::CScriptState* FindScriptState(const Repository& repository);

// Binds a host function under `name` (first binding stays). Its record lives until shutdown or
// clear, whichever comes first; a null function binds nothing.
void BindHostFunction(Repository& repository, TlxSprigFunction function, const char* name);
// Records of host functions alive (for tests).
uint64_t CountHostFunctionRecords();

namespace Sprig {

// One object-bound store: a list of variables (kind 1 prototype, kind 2 instance) that is also
// the node of its region's tree, keyed by object id.
class CBoundStore : public Bravik::CWeakTypeList, public Bravik::TMapElement<uint32_t> {
 public:
  CBoundStore(bool prototype, uint32_t id, CRegionValues& owner)
      : CWeakTypeList(id, prototype ? Bravik::kStoragePrototype : Bravik::kStorageInstance),
        values(&owner) {}
  bool IsPrototype() const { return GetKind() == Bravik::kStoragePrototype; }

  CRegionValues* values;  // the region's collection that owns this store
};

// The bound stores of one region, by object id; created with the region's first bound store.
class CRegionValues {
 public:
  CRegionValues() = default;
  CRegionValues(const CRegionValues&) = delete;
  CRegionValues& operator=(const CRegionValues&) = delete;
  ~CRegionValues();

  CBoundStore* Find(bool prototype, uint32_t id) const;
  CBoundStore& GetOrCreate(bool prototype, uint32_t id);
  // Destroys one store (stored References into it become Invalid first); absent does nothing.
  void Destroy(bool prototype, uint32_t id);
  uint64_t GetCount() const { return m_prototypes.count + m_instances.count; }

  // Visits the prototype stores, then the instance stores, each in ascending id order, until
  // visit(CBoundStore&) returns false.
  template <typename F>
  bool Walk(F&& visit) const {
    for (const Bravik::TMapTree<uint32_t>* tree : {&m_prototypes, &m_instances}) {
      const bool go = tree->Walk([&](Bravik::TMapElement<uint32_t>* node) {
        return visit(*static_cast<CBoundStore*>(node));
      });
      if (!go) return false;
    }
    return true;
  }

 private:
  Bravik::TMapTree<uint32_t>& TreeOf(bool prototype) {
    return prototype ? m_prototypes : m_instances;
  }
  const Bravik::TMapTree<uint32_t>& TreeOf(bool prototype) const {
    return prototype ? m_prototypes : m_instances;
  }

  Bravik::TMapTree<uint32_t> m_prototypes;
  Bravik::TMapTree<uint32_t> m_instances;
};

}  // namespace Sprig

// ---- Walks for the interchange writer, each in ascending id order ------------------------------

// visit(uint32_t variableId, TlxSprigValue&) over the global variables.
template <typename F>
void WalkGlobalVariables(Repository& repository, F&& visit) {
  if (Sprig::CScriptState* state = FindScriptState(repository)) {
    state->GetGlobals().Walk([&](uint32_t id, TlxSprigValue* value) { return visit(id, *value); });
  }
}

// visit(uint32_t namespaceId, Sprig::CNamespace&) over the named namespaces. Raises
// std::bad_alloc before visiting anything.
template <typename F>
void WalkNamespaces(Repository& repository, F&& visit) {
  if (Sprig::CScriptState* state = FindScriptState(repository)) state->WalkNamespaces(visit);
}

// visit(uint32_t variableId, TlxSprigValue&) over one store's variables, whatever its kind.
// Raises std::bad_alloc (for a list store) before visiting anything.
template <typename F>
void WalkStoreVariables(const Bravik::IWeakTypeStorage& store, F&& visit) {
  if (store.GetKind() == Bravik::kStorageNamespace) {
    static_cast<const Bravik::CWeakTypeMap&>(store).Walk(
        [&](uint32_t id, TlxSprigValue* value) { return visit(id, *value); });
    return;
  }
  // A list keeps creation order: sort its entries by id first.
  const auto& list = static_cast<const Bravik::CWeakTypeList&>(store);
  struct SEntry {
    uint32_t id;
    TlxSprigValue* value;
  };
  Bravik::TArray<SEntry> entries;
  entries.Reserve(list.GetCount());
  list.Walk([&](uint32_t id, TlxSprigValue* value) {
    entries.Append(SEntry{id, value});
    return true;
  });
  std::stable_sort(entries.begin(), entries.end(),
                   [](const SEntry& a, const SEntry& b) { return a.id < b.id; });
  for (const SEntry& entry : entries) {
    if (!visit(entry.id, *entry.value)) return;
  }
}

// visit(Sprig::CBoundStore&) over the bound stores of one region (kAllRegions: every region,
// in region walk order): prototypes, then instances, each by ascending object id.
template <typename F>
void WalkBoundStores(Repository& repository, uint16_t regionId, F&& visit) {
  repository.ForEachRegion(regionId, [&](Region& region) {
    if (region.scriptValues != nullptr) region.scriptValues->Walk(visit);
  });
}

// ---- Export bodies (texts are UTF-8; null texts give the absent result) -----------------------

TlxSprigExpression* ParseExpression(Repository& repository, const char* text);
// Strict parse; false with the error's position and message (see TlxSprigTryParse).
bool TryParseExpression(const char* text, char* messageBuffer, uint32_t bufferSize,
                        uint32_t* position);
// Releases the handle's reference to the tree and frees the handle; null does nothing.
void FreeExpression(TlxSprigExpression* expression);
// Takes one more reference to the handle's tree into a new handle (for holders that share it).
TlxSprigExpression* ShareExpression(const TlxSprigExpression* expression);
TlxSprigValue ExecuteText(Repository& repository, const char* text);
Sprig::SValueWords ExecuteExpression(Repository& repository, const TlxSprigExpression* expression);
TlxSprigValue GetVariableSilently(Repository& repository, const char* name);
bool VariableExists(Repository& repository, const char* name);
void* CreateNamespace(Repository& repository, const char* name);
void ReleaseNamespace(Repository& repository, const char* name);

}  // namespace Quorin
