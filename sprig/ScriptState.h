// The script state: the global variable store, the named namespaces with their variables and
// function tables, the global function table, and the look-ups the evaluator uses. Variables
// bound to stored objects and members of stored objects are reached through an IObjectResolver
// that the owner installs; without one, every object reads as absent.
#pragma once

#include <cstdint>

#include "foundation/container/IdTable.h"
#include "foundation/container/MapTree.h"
#include "foundation/memory/Memory.h"
#include "foundation/string/String.h"
#include "sprig/ValueStores.h"

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

// A named namespace, the node of its state's tree keyed by the hash of its name: its variables
// (whose store id is that hash) and its functions.
struct CNamespace : Bravik::TMapElement<uint32_t> {
  CNamespace(uint32_t id, CReferenceGuard& guard) : variables(id, Bravik::kStorageNamespace, &guard) {}
  CWeakTypeMap variables;
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
  virtual IWeakTypeStorage* GetBoundStore(bool prototype, uint32_t id, bool create) = 0;
  // Reads the first item of the member named by `memberHash` into `out`.
  virtual EMemberRead ReadMember(bool prototype, uint32_t id, uint32_t memberHash,
                                 TlxSprigValue& out) = 0;
  // A namespace or variable name used through text (for the interchange writer's name table).
  virtual void RecordName(uint32_t hash, const Bravik::IString& name) = 0;
};

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
// namespace `Math`). Parsing allocates nothing for a UTF-8 name, whose text it then points into:
// the name must outlive the parsed form.
struct SFunctionName {
  bool inNamespace = false;
  uint32_t namespaceHash = 0;
  uint32_t key = 0;
  const char* namespaceText = nullptr;  // the bytes before the dot, not terminated
  uint64_t namespaceLength = 0;
  Bravik::CMutableString converted;  // the name as UTF-8 when it came in another encoding

  void Parse(const Bravik::IString& name);
};

class CScriptState {
 public:
  CScriptState() = default;
  ~CScriptState() { Clear(); }
  CScriptState(const CScriptState&) = delete;
  CScriptState& operator=(const CScriptState&) = delete;

  // Destroys every variable, namespace and bound function; the state stays usable. Not while a
  // script runs.
  void Clear();

  void SetObjectResolver(IObjectResolver* resolver) { m_resolver = resolver; }
  // The guard of every store whose entries scripts reach, the object-bound ones included.
  CReferenceGuard& References() { return m_references; }

  // ---- Running scripts ----
  // Marks the evaluation of one script, at any nesting depth. What is disposed of while any
  // script runs stays allocated until the outermost one returns: a host function the script
  // calls may release anything the script still holds.
  class CRunningScript {
   public:
    explicit CRunningScript(CScriptState& state) : m_state(state) { ++m_state.m_running; }
    ~CRunningScript() {
      if (--m_state.m_running == 0) m_state.DisposeDeferred();
    }
    CRunningScript(const CRunningScript&) = delete;
    CRunningScript& operator=(const CRunningScript&) = delete;

   private:
    CScriptState& m_state;
  };
  bool IsRunning() const { return m_running != 0; }
  // Room for one more disposal; call before taking the object out of reach. Raises
  // std::bad_alloc and changes nothing.
  void PrepareDisposal();
  // Destroys the object, now or when the outermost running script returns; never raises.
  // PrepareDisposal must have come first.
  void Dispose(void* object, void (*destroy)(void*));
  template <typename T>
  void Dispose(T* object) {
    Dispose(object, [](void* item) { Bravik::Memory::Delete(static_cast<T*>(item)); });
  }

  // ---- Variables and namespaces ----
  CWeakTypeMap& GetGlobals() { return m_globals; }
  CNamespace* FindNamespace(uint32_t hash) const;
  // Finds or creates the namespace (recording its name).
  CNamespace& GetOrCreateNamespace(const Bravik::IString& name);
  // Takes the namespace out of reach and disposes of it with its variables and functions;
  // nothing when there is none. Raises std::bad_alloc with nothing changed.
  void ReleaseNamespace(uint32_t hash);
  uint64_t GetNamespaceCount() const { return m_namespaces.count; }

  // Visits (hash, namespace) in ascending hash order until visit returns false.
  template <typename F>
  bool WalkNamespaces(F&& visit) {
    return m_namespaces.Walk([&](Bravik::TMapElement<uint32_t>* node) {
      return visit(node->key, *static_cast<CNamespace*>(node));
    });
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
  // The namespace or object store a variable name denotes (created when `create`); null when
  // there is none. Records no name.
  IWeakTypeStorage* FindStore(const SVariableName& name, bool create);

  // ---- Functions ----
  // Binds unless the name is bound already (the first binding stays): true when it bound. A
  // dotted name creates its namespace. A name that is bound already allocates nothing.
  bool BindFunction(const SprigCallable& callable, const SFunctionName& name);
  bool BindFunction(const SprigCallable& callable, const Bravik::IString& name);
  bool IsFunctionBound(const SFunctionName& name) const;
  // `out` becomes the function's result, Invalid when no function has the name (no error).
  void CallFunction(const SFunctionName& name, const TlxSprigValue* arguments, uint64_t count,
                    TlxSprigValue& out);
  void CallFunction(const Bravik::IString& name, const TlxSprigValue* arguments, uint64_t count,
                    TlxSprigValue& out);

 private:
  struct SDisposal {
    void* object;
    void (*destroy)(void*);
  };

  CNamespace& GetOrCreateNamespace(uint32_t hash, const Bravik::IString& name);
  void ReadMember(const SVariableName& name, bool silent, TlxSprigValue& out);
  void Record(uint32_t hash, const Bravik::IString& text);
  void DisposeDeferred();

  // First: the stores below hand it their leaving entries until they are gone.
  CReferenceGuard m_references;
  CWeakTypeMap m_globals{Bravik::kGlobalStorageId, Bravik::kStorageNamespace, &m_references};
  CFunctionTable m_functions;
  Bravik::TMapTree<uint32_t> m_namespaces;  // CNamespace
  IObjectResolver* m_resolver = nullptr;
  uint32_t m_running = 0;
  Bravik::TArray<SDisposal> m_deferred;
};

}  // namespace Quorin::Sprig
