// The Repository's script binding: the script state (global variables, namespaces, bound
// functions), the variable stores bound to prototypes and instances (kept by the object's
// region), member reads of stored objects, recorded names, the records of host functions, the
// parsed trees of stored script texts, and the export bodies of the scripts.
//
// Host functions may call any export while a script runs. Clear and shutdown are then refused
// (the Repository checks IsRunning); everything else takes effect at once for the host, while
// what the running script may still reach (stores, entries, parsed trees, paths) is disposed of
// through the script state, which keeps it until the outermost script returns.
#pragma once

#include <algorithm>
#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "foundation/container/Array.h"
#include "foundation/container/MapTree.h"
#include "repository/Repository.h"
#include "sprig/ScriptState.h"
#include "sprig/Value.h"

namespace Quorin {

class CText_Internal;

// One object-bound store: a list of variables (kind 1 prototype, kind 2 instance) that is also
// the node of its region's tree, keyed by object id.
class CBoundStore : public Sprig::CWeakTypeList, public Bravik::TMapElement<uint32_t> {
 public:
  CBoundStore(bool prototype, uint32_t id, Sprig::CReferenceGuard& guard)
      : Sprig::CWeakTypeList(id, prototype ? Bravik::kStoragePrototype : Bravik::kStorageInstance, &guard) {}
  bool IsPrototype() const { return GetKind() == Bravik::kStoragePrototype; }
};

// The bound stores of one region, by object id; created with the region's first bound store.
class CRegionValues {
 public:
  CRegionValues() = default;
  CRegionValues(const CRegionValues&) = delete;
  CRegionValues& operator=(const CRegionValues&) = delete;
  ~CRegionValues();

  CBoundStore* Find(bool prototype, uint32_t id) const;
  CBoundStore& GetOrCreate(bool prototype, uint32_t id, Sprig::CReferenceGuard& guard);
  // Unlinks the store from the region; the caller disposes of it.
  void Unlink(CBoundStore& store) { TreeOf(store.IsPrototype()).Erase(&store); }
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
  Bravik::TMapTree<uint32_t>& TreeOf(bool prototype) { return prototype ? m_prototypes : m_instances; }
  const Bravik::TMapTree<uint32_t>& TreeOf(bool prototype) const { return prototype ? m_prototypes : m_instances; }

  Bravik::TMapTree<uint32_t> m_prototypes;
  Bravik::TMapTree<uint32_t> m_instances;
};

// The objects of the Repository as scripts see them.
class CObjectResolver_Internal final : public Sprig::IObjectResolver {
 public:
  CObjectResolver_Internal(Repository& repository, Sprig::CReferenceGuard& guard)
      : m_repository(repository), m_guard(guard) {}
  Sprig::IWeakTypeStorage* GetBoundStore(bool prototype, uint32_t id, bool create) override;
  Sprig::EMemberRead ReadMember(bool prototype, uint32_t id, uint32_t memberHash, TlxSprigValue& out) override;
  void RecordName(uint32_t hash, const Bravik::IString& name) override;

 private:
  Repository& m_repository;
  Sprig::CReferenceGuard& m_guard;
};

class CScriptBinding {
 public:
  explicit CScriptBinding(Repository& repository);
  // The Repository releases every region first.
  ~CScriptBinding();
  CScriptBinding(const CScriptBinding&) = delete;
  CScriptBinding& operator=(const CScriptBinding&) = delete;

  Sprig::CScriptState& State() { return m_state; }
  bool IsRunning() const { return m_state.IsRunning(); }

  // ---- What the Repository tells (each may raise std::bad_alloc before changing anything) ----
  // The region's bound stores and the parsed trees of its texts go (a drop or the region's end).
  void ReleaseRegion(Region& region);
  // The variables bound to an instance go before it is released.
  void ReleaseInstance(Region& region, uint32_t instanceId);
  // Every variable, namespace, function and host-function record goes (clear, shutdown); the
  // regions have been released. Not while a script runs.
  void Reset();

  // ---- Host functions ----
  // Binds under `name` unless it is bound already (the first binding stays; then nothing is
  // allocated). The record lives as long as the binding. A null function or name does nothing.
  void BindHostFunction(TlxSprigFunction function, const char* name);
  uint64_t CountHostFunctionRecords() const;

  // ---- Export bodies (texts are UTF-8; null arguments give the absent result) ----
  TlxSprigValue ExecuteText(const char* text);
  Sprig::SValueWords ExecuteExpression(const TlxSprigExpression* expression);
  // Releases the handle's reference to the tree (the last one disposes of it) and frees the
  // handle.
  void FreeExpression(TlxSprigExpression* expression);
  TlxSprigValue GetVariableSilently(const char* name);
  // The strict parse, then the faults the tree's shape shows against the functions bound now;
  // reported as TryParseExpression does. Runs nothing and touches no variable.
  bool CheckText(const char* text, char* messageBuffer, uint32_t bufferSize, uint32_t* position);
  bool VariableExists(const char* name);
  void* CreateNamespace(const char* name);
  void ReleaseNamespace(const char* name);

  // Evaluates a stored text as a script into `value`: parsed on its first run, the tree kept with
  // the text. Raises CSprigException for script errors.
  void RunTextScript(CText_Internal& text, TlxSprigValue& value);

 private:
  void Expose(const TlxSprigValue& value);
  void FreeHostFunctions(Bravik::TMapTree<uint32_t>& records);

  Sprig::CScriptState m_state;
  CObjectResolver_Internal m_resolver;
  // Records of host functions: global ones by function key, the others by namespace hash.
  Bravik::TMapTree<uint32_t> m_globalFunctions;
  Bravik::TMapTree<uint32_t> m_namespaceFunctions;
};

// ---- Parsed expressions (the handles of TlxSprigParse) ------------------------------------------

TlxSprigExpression* ParseExpression(const char* text);
// Strict parse; false with the error's position and message (see TlxSprigTryParse).
bool TryParseExpression(const char* text, char* messageBuffer, uint32_t bufferSize, uint32_t* position);
// Takes one more reference to the handle's tree into a new handle (for holders that share it).
TlxSprigExpression* ShareExpression(const TlxSprigExpression* expression);

// ---- Walks for the interchange writer, each in ascending id order ------------------------------

// visit(uint32_t variableId, TlxSprigValue&) over the global variables.
template <typename F>
void WalkGlobalVariables(Repository& repository, F&& visit) {
  repository.Scripts().State().GetGlobals().Walk([&](uint32_t id, TlxSprigValue* value) { return visit(id, *value); });
}

// visit(uint32_t namespaceId, Sprig::CNamespace&) over the named namespaces.
template <typename F>
void WalkNamespaces(Repository& repository, F&& visit) {
  repository.Scripts().State().WalkNamespaces(visit);
}

// visit(uint32_t variableId, TlxSprigValue&) over one store's variables, whatever its kind.
// Raises std::bad_alloc (for a list store) before visiting anything.
template <typename F>
void WalkStoreVariables(const Sprig::IWeakTypeStorage& store, F&& visit) {
  if (store.GetKind() == Bravik::kStorageNamespace) {
    static_cast<const Sprig::CWeakTypeMap&>(store).Walk(
        [&](uint32_t id, TlxSprigValue* value) { return visit(id, *value); });
    return;
  }
  // A list keeps creation order: sort its entries by id first.
  const auto& list = static_cast<const Sprig::CWeakTypeList&>(store);
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
  std::stable_sort(entries.begin(), entries.end(), [](const SEntry& a, const SEntry& b) { return a.id < b.id; });
  for (const SEntry& entry : entries) {
    if (!visit(entry.id, *entry.value)) return;
  }
}

// visit(CBoundStore&) over the bound stores of one region (kAllRegions: every region, in region
// walk order): prototypes, then instances, each by ascending object id.
template <typename F>
void WalkBoundStores(Repository& repository, uint16_t regionId, F&& visit) {
  repository.ForEachRegion(regionId, [&](Region& region) {
    if (region.scriptValues != nullptr) region.scriptValues->Walk(visit);
  });
}

}  // namespace Quorin
