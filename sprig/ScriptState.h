// The script state: the global variable store, the named namespaces with their variables and
// function tables, the global function table, and the look-ups the evaluator uses. Variables
// bound to stored objects and members of stored objects are reached through an IObjectResolver
// that the owner installs; without one, every object reads as absent.
#pragma once

#include <cstdint>

#include "foundation/container/IdTable.h"
#include "foundation/container/WeakTypeStorage.h"
#include "foundation/string/String.h"

namespace Quorin::Sprig {

struct SprigCallable;
// Called with the callable itself (for its context word), the result value (Invalid on entry)
// and the arguments: resolved copies, never References.
using SprigEntryPoint = void (*)(const SprigCallable& callable, TlxSprigValue& result,
                                 const TlxSprigValue* arguments, uint64_t count);

struct SprigCallable {
  SprigEntryPoint entry;
  uintptr_t context;  // 0 for the standard functions
};

// A function table: 64 buckets of (name hash, callable). The first binding of a key stays.
class CFunctionTable {
 public:
  ~CFunctionTable() { m_table.Free(); }
  // False (and nothing changes) when the key is already bound.
  bool Bind(uint32_t key, const SprigCallable& callable);
  const SprigCallable* Find(uint32_t key) const { return m_table.Lookup(key); }
  uint64_t GetCount() const { return m_table.Count(); }
  void Clear() { m_table.Free(); }

 private:
  Bravik::TIdTable<uint32_t, SprigCallable> m_table;
};

// A named namespace: its variables (id = the hash of its name) and its functions.
struct CNamespace {
  explicit CNamespace(uint32_t id) : variables(id, Bravik::kStorageNamespace) {}
  Bravik::CWeakTypeMap variables;
  CFunctionTable functions;
};

// What a member read found.
enum class EMemberRead : uint8_t {
  kRead,            // the value was written to `out`
  kObjectMissing,   // no object with that id
  kMemberMissing,   // neither its class nor its template has the member
  kTypeUnreadable,  // a member type scripts cannot read (references)
};

// Reaches the objects of the Repository for the `0x<id>:` and `$0x<id>:` forms, and records the
// names that scripts use. The state does not own it.
class IObjectResolver {
 public:
  virtual ~IObjectResolver() = default;
  // The value store bound to the object; created on first use when `create` is set. Null when
  // the object does not exist (or has no store and `create` is not set).
  virtual Bravik::IWeakTypeStorage* GetBoundStore(bool prototype, uint32_t id, bool create) = 0;
  // Reads the first item of the member named by `memberHash` into `out`.
  virtual EMemberRead ReadMember(bool prototype, uint32_t id, uint32_t memberHash,
                                 TlxSprigValue& out) = 0;
  // A namespace or variable name used through text (for the interchange writer's name table).
  virtual void RecordName(uint32_t hash, const Bravik::IString& name) = 0;
  // Called before the state destroys one of its stores (a released namespace), so that stored
  // References into it from the object-bound stores can be turned into Invalid.
  virtual void StoreDestroying(const Bravik::IWeakTypeStorage& /*store*/) {}
};

// True when `value` is itself a Reference to an entry of a store for which dying(store) holds.
// A Reference chain never needs following here: every link is checked where it is stored.
template <typename Dying>
bool RefersInto(const TlxSprigValue& value, Dying& dying) {
  if (value.kind != Bravik::kSprigReference) return false;
  const auto* target = reinterpret_cast<const TlxSprigValue*>(static_cast<uintptr_t>(value.payload));
  return target != nullptr && target->entryFlag == 1 &&
         dying(Bravik::IWeakTypeStorage::OwnerOf(target));
}

// Turns every entry of `store` that refers into a dying store into Invalid, so that a stored
// Reference never outlives its target. Allocates nothing.
template <typename Store, typename Dying>
void InvalidateReferencesIn(const Store& store, Dying&& dying) {
  store.Walk([&](uint32_t, TlxSprigValue* value) {
    if (RefersInto(*value, dying)) {
      value->kind = Bravik::kSprigInvalid;
      value->payload = 0;
    }
    return true;
  });
}

enum class EVariableScope : uint8_t { kGlobal, kNamespace, kInstance, kPrototype };

// A variable name split once: `name`, `ns:var`, `0x<id>:var`, `$0x<id>:var`, and the member forms
// `0x<id>:$member`, `$0x<id>:$member`. Parsed once when a variable node is built, so that an
// evaluation neither hashes nor allocates to find the variable.
struct SVariableName {
  EVariableScope scope = EVariableScope::kGlobal;
  bool member = false;        // the part after the colon starts with `$`
  bool objectFound = false;   // the object part is `0x`/`$0x` and its id fits 32 bits
  uint32_t objectId = 0;
  uint32_t scopeHash = 0;     // hash of the part before the colon
  uint32_t itemHash = 0;      // hash of the variable (or member, without `$`) name
  Bravik::CMutableString scopeText;
  Bravik::CMutableString itemText;  // the whole name for a global

  // Splits a UTF-8 name at its first colon.
  void Parse(const Bravik::IString& name);
};

// A function name split at its first dot: `Sum` (global) or `Math.Sum` (function `Sum` of the
// namespace `Math`).
struct SFunctionName {
  bool inNamespace = false;
  uint32_t namespaceHash = 0;
  uint32_t key = 0;
  Bravik::CMutableString namespaceText;

  void Parse(const Bravik::IString& name);
};

class CScriptState {
 public:
  CScriptState() = default;
  ~CScriptState() { Clear(); }
  CScriptState(const CScriptState&) = delete;
  CScriptState& operator=(const CScriptState&) = delete;

  // Destroys every variable, namespace and bound function; the state stays usable.
  void Clear();

  void SetObjectResolver(IObjectResolver* resolver) { m_resolver = resolver; }
  IObjectResolver* GetObjectResolver() const { return m_resolver; }

  Bravik::CWeakTypeMap& GetGlobals() { return m_globals; }
  CFunctionTable& GetGlobalFunctions() { return m_functions; }
  CNamespace* FindNamespace(uint32_t hash) const;
  // Finds or creates the namespace (recording its name).
  CNamespace& GetOrCreateNamespace(const Bravik::IString& name);
  CNamespace& GetOrCreateNamespace(uint32_t hash);
  // Destroys the namespace with its variables and functions; nothing when there is none. Stored
  // References into its variables become Invalid first.
  void ReleaseNamespace(uint32_t hash);
  uint64_t GetNamespaceCount() const { return m_namespaces.Count(); }

  // Visits (hash, namespace) in ascending hash order until visit returns false. May raise
  // std::bad_alloc before visiting anything.
  template <typename F>
  bool WalkNamespaces(F&& visit) {
    return m_namespaces.WalkAscending(
        [&](uint32_t hash, CNamespace* space) { return visit(hash, *space); });
  }

  // Visits the global store and every namespace's store, in no particular order, without
  // allocating (usable while stores are being destroyed).
  template <typename F>
  void ForEachStore(F&& visit) {
    visit(m_globals);
    m_namespaces.Walk([&](uint32_t, CNamespace*& space) {
      visit(space->variables);
      return true;
    });
  }
  // Invalidates the References in the state's own stores that point into a dying store.
  template <typename Dying>
  void InvalidateReferences(Dying&& dying) {
    ForEachStore([&](const Bravik::CWeakTypeMap& store) { InvalidateReferencesIn(store, dying); });
  }

  // `out` becomes a Reference to the variable (created as Integer 0 when missing), or a member's
  // value. Raises CSprigException (code 7, 10 or 12, position 0) for what is not found, unless
  // `silent`, which gives Invalid instead.
  void GetVariable(const SVariableName& name, bool silent, TlxSprigValue& out);
  // The entry a variable name (not a member form) denotes, created when missing; null when its
  // namespace or object store cannot be found (silent), else raises as GetVariable.
  TlxSprigValue* VariableEntry(const SVariableName& name, bool silent);
  void GetVariable(const Bravik::IString& name, bool silent, TlxSprigValue& out);
  // Never creates anything.
  bool VariableExists(const Bravik::IString& name);

  // The first binding of a name stays. A dotted name creates its namespace.
  void BindFunction(const SprigCallable& callable, const Bravik::IString& name);
  // `out` becomes the function's result, Invalid when no function has the name (no error).
  void CallFunction(const SFunctionName& name, const TlxSprigValue* arguments, uint64_t count,
                    TlxSprigValue& out);
  void CallFunction(const Bravik::IString& name, const TlxSprigValue* arguments, uint64_t count,
                    TlxSprigValue& out);

 private:
  Bravik::IWeakTypeStorage* FindStore(const SVariableName& name, bool create);
  void ReadMember(const SVariableName& name, bool silent, TlxSprigValue& out);
  void Record(uint32_t hash, const Bravik::IString& text);

  Bravik::CWeakTypeMap m_globals{Bravik::kGlobalStorageId, Bravik::kStorageNamespace};
  CFunctionTable m_functions;
  Bravik::TIdTable<uint32_t, CNamespace*> m_namespaces;
  IObjectResolver* m_resolver = nullptr;
};

}  // namespace Quorin::Sprig
