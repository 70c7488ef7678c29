#include "sprig/ScriptState.h"

#include <cstring>

#include "foundation/memory/Memory.h"
#include "foundation/string/Format.h"
#include "foundation/system/Assert.h"
#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;
using Bravik::IString;
namespace Memory = Bravik::Memory;

namespace {

// `length` bytes of UTF-8 from `begin` as an owned string.
void AssignBytes(CMutableString& target, const char* begin, size_t length) {
  char* block = static_cast<char*>(Memory::Allocate(length + 1, Memory::kObjectPool));
  std::memcpy(block, begin, length);
  block[length] = '\0';
  target.Adopt(block, Bravik::kUtf8);
}

// The name's bytes as UTF-8; `holder` keeps a converted copy alive when one is needed.
const char* Utf8Of(const IString& name, CMutableString& holder) {
  const void* data = name.GetData();
  if (data != nullptr && name.GetEncoding() != Bravik::kUtf8) {
    holder.Assign(data, name.GetEncoding(), Bravik::kUtf8);
    data = holder.GetData();
  }
  return data != nullptr ? static_cast<const char*>(data) : "";
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

[[noreturn]] void Raise(const char* format, const IString& argument, uint32_t code) {
  CMutableString message;
  Bravik::Format(message, CString(format), argument);
  throw CSprigException(message, code);
}

}  // namespace

// ---- Names ----

void SVariableName::Parse(const IString& name) {
  CMutableString holder;
  const char* text = Utf8Of(name, holder);
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) {
    scope = EVariableScope::kGlobal;
    itemText.Set(text, Bravik::kUtf8);
    itemHash = Bravik::CalculateHash(itemText);
    return;
  }
  AssignBytes(scopeText, text, static_cast<size_t>(colon - text));
  scopeHash = Bravik::CalculateHash(scopeText);
  const char* scopeStart = static_cast<const char*>(scopeText.GetData());
  const char* idText = nullptr;
  if (StartsWith(scopeStart, "$0x")) {
    scope = EVariableScope::kPrototype;
    idText = scopeStart + 1;
  } else if (StartsWith(scopeStart, "0x")) {
    scope = EVariableScope::kInstance;
    idText = scopeStart;
  } else {
    scope = EVariableScope::kNamespace;
  }
  if (idText != nullptr) {
    const uint64_t id = Bravik::ToUnsigned(CString(idText));
    objectFound = id <= 0xFFFFFFFFu;
    objectId = static_cast<uint32_t>(id);
  }
  const char* item = colon + 1;
  member = item[0] == '$';
  itemText.Set(member ? item + 1 : item, Bravik::kUtf8);
  itemHash = Bravik::CalculateHash(itemText);
}

void SFunctionName::Parse(const IString& name) {
  const char* text = Utf8Of(name, converted);
  const char* dot = std::strchr(text, '.');
  inNamespace = dot != nullptr;
  if (!inNamespace) {
    key = Bravik::CalculateHash(CString(text));
    return;
  }
  // The hash of the namespace part as if it were terminated, without copying it.
  namespaceText = text;
  namespaceLength = static_cast<uint64_t>(dot - text);
  const char terminator = '\0';
  namespaceHash = Bravik::UpdateHash(Bravik::UpdateHash(Bravik::kHashSeed, text, namespaceLength), &terminator, 1);
  key = Bravik::CalculateHash(CString(dot + 1));
}

// ---- Functions ----

bool CFunctionTable::Bind(uint32_t key, const SprigCallable& callable) {
  if (m_table.Lookup(key) != nullptr) return false;
  m_table.Add(key, callable);
  return true;
}

bool CScriptState::IsFunctionBound(const SFunctionName& name) const {
  if (!name.inNamespace) return m_functions.Find(name.key) != nullptr;
  const CNamespace* space = FindNamespace(name.namespaceHash);
  return space != nullptr && space->functions.Find(name.key) != nullptr;
}

bool CScriptState::BindFunction(const SprigCallable& callable, const SFunctionName& name) {
  if (IsFunctionBound(name)) return false;
  if (!name.inNamespace) return m_functions.Bind(name.key, callable);
  CNamespace* space = FindNamespace(name.namespaceHash);
  if (space == nullptr) {
    CMutableString spaceName;
    AssignBytes(spaceName, name.namespaceText, name.namespaceLength);
    space = &GetOrCreateNamespace(name.namespaceHash, spaceName);
  }
  return space->functions.Bind(name.key, callable);
}

bool CScriptState::BindFunction(const SprigCallable& callable, const IString& name) {
  SFunctionName parsed;
  parsed.Parse(name);
  return BindFunction(callable, parsed);
}

void CScriptState::CallFunction(const SFunctionName& name, const TlxSprigValue* arguments,
                                uint64_t count, TlxSprigValue& out) {
  const CFunctionTable* table = &m_functions;
  if (name.inNamespace) {
    const CNamespace* space = FindNamespace(name.namespaceHash);
    table = space != nullptr ? &space->functions : nullptr;
  }
  const SprigCallable* found = table != nullptr ? table->Find(name.key) : nullptr;
  if (found == nullptr) {
    SetInvalid(out);
    return;
  }
  // A copy: the function may bind others, which can move the table's bucket.
  const SprigCallable callable = *found;
  callable.entry(callable, out, arguments, count);
}

void CScriptState::CallFunction(const IString& name, const TlxSprigValue* arguments,
                                uint64_t count, TlxSprigValue& out) {
  SFunctionName parsed;
  parsed.Parse(name);
  CallFunction(parsed, arguments, count, out);
}

// ---- Namespaces ----

CNamespace* CScriptState::FindNamespace(uint32_t hash) const {
  return static_cast<CNamespace*>(m_namespaces.Find(hash));
}

CNamespace& CScriptState::GetOrCreateNamespace(uint32_t hash, const IString& name) {
  if (CNamespace* found = FindNamespace(hash)) return *found;
  Record(hash, name);
  CNamespace* space = Memory::New<CNamespace>(Memory::PoolForAlignment(alignof(CNamespace)), hash, m_references);
  m_namespaces.Insert(space, hash);
  return *space;
}

CNamespace& CScriptState::GetOrCreateNamespace(const IString& name) {
  return GetOrCreateNamespace(Bravik::CalculateHash(name), name);
}

void CScriptState::ReleaseNamespace(uint32_t hash) {
  CNamespace* space = FindNamespace(hash);
  if (space == nullptr) return;
  PrepareDisposal();
  m_namespaces.Erase(space);
  Dispose(space);
}

void CScriptState::Clear() {
  BRAVIK_ASSERT(!IsRunning());
  m_globals.Clear();
  m_functions.Clear();
  while (CNamespace* space = static_cast<CNamespace*>(m_namespaces.root)) {
    m_namespaces.Erase(space);
    Memory::Delete(space);
  }
  m_references.Collect();
  m_deferred.Free();
}

// ---- Disposal ----

void CScriptState::PrepareDisposal() {
  if (m_running != 0 && m_deferred.Count() == m_deferred.Capacity()) {
    m_deferred.Reserve(m_deferred.Capacity() < 8 ? 8 : 2 * m_deferred.Capacity());
  }
}

void CScriptState::Dispose(void* object, void (*destroy)(void*)) {
  if (m_running == 0) {
    destroy(object);
    m_references.CollectIfDue();
    return;
  }
  // Cached variable look-ups must not find what is out of reach now.
  Bravik::AdvanceStoreEntryGeneration();
  m_deferred.Append(SDisposal{object, destroy});
}

void CScriptState::DisposeDeferred() {
  // Destroying may not start scripts, but keep to the index in case the array changes.
  for (uint64_t i = 0; i < m_deferred.Count(); ++i) m_deferred[i].destroy(m_deferred[i].object);
  m_deferred.Free();
  m_references.CollectIfDue();
}

// ---- Variables ----

void CScriptState::Record(uint32_t hash, const IString& text) {
  if (m_resolver != nullptr) m_resolver->RecordName(hash, text);
}

IWeakTypeStorage* CScriptState::FindStore(const SVariableName& name, bool create) {
  if (name.scope == EVariableScope::kNamespace) {
    if (!create) {
      CNamespace* space = FindNamespace(name.scopeHash);
      return space != nullptr ? &space->variables : nullptr;
    }
    return &GetOrCreateNamespace(name.scopeHash, name.scopeText).variables;
  }
  if (!name.objectFound || m_resolver == nullptr) return nullptr;
  return m_resolver->GetBoundStore(name.scope == EVariableScope::kPrototype, name.objectId,
                                   create);
}

void CScriptState::ReadMember(const SVariableName& name, bool silent, TlxSprigValue& out) {
  EMemberRead result = EMemberRead::kObjectMissing;
  const bool isObject = name.scope == EVariableScope::kInstance ||
                        name.scope == EVariableScope::kPrototype;
  if (isObject && name.objectFound && m_resolver != nullptr) {
    result = m_resolver->ReadMember(name.scope == EVariableScope::kPrototype, name.objectId,
                                    name.itemHash, out);
  }
  if (result == EMemberRead::kRead) return;
  SetInvalid(out);
  if (silent) return;
  switch (result) {
    case EMemberRead::kObjectMissing:
      Raise("Object %1 not found.", name.scopeText, kSprigErrorNotFound);
    case EMemberRead::kMemberMissing:
      Raise("Member %1 not found.", name.itemText, kSprigErrorNotFound);
    default:
      Raise("Unknown type for member %1.", name.itemText, kSprigErrorMemberType);
  }
}

TlxSprigValue* CScriptState::VariableEntry(const SVariableName& name, bool silent) {
  if (name.scope == EVariableScope::kGlobal) {
    Record(name.itemHash, name.itemText);
    return m_globals.GetOrCreate(name.itemHash);
  }
  IWeakTypeStorage* store = FindStore(name, true);
  if (store == nullptr) {
    if (silent) return nullptr;
    Raise("Namespace %1 not found.", name.scopeText, kSprigErrorNoNamespace);
  }
  Record(name.itemHash, name.itemText);
  return store->GetOrCreate(name.itemHash);
}

void CScriptState::GetVariable(const SVariableName& name, bool silent, TlxSprigValue& out) {
  if (name.scope != EVariableScope::kGlobal && name.member) {
    ReadMember(name, silent, out);
    return;
  }
  SetInvalid(out);
  TlxSprigValue* entry = VariableEntry(name, silent);
  if (entry != nullptr) MakeReference(out, entry);
}

void CScriptState::GetVariable(const IString& name, bool silent, TlxSprigValue& out) {
  SVariableName parsed;
  parsed.Parse(name);
  GetVariable(parsed, silent, out);
}

bool CScriptState::VariableExists(const IString& name) {
  SVariableName parsed;
  parsed.Parse(name);
  if (parsed.scope == EVariableScope::kGlobal) return m_globals.Contains(parsed.itemHash);
  if (parsed.member) {
    if (parsed.scope == EVariableScope::kNamespace || !parsed.objectFound ||
        m_resolver == nullptr) {
      return false;
    }
    CTempValue scratch;
    const EMemberRead result =
        m_resolver->ReadMember(parsed.scope == EVariableScope::kPrototype, parsed.objectId,
                               parsed.itemHash, scratch.Get());
    return result == EMemberRead::kRead || result == EMemberRead::kTypeUnreadable;
  }
  const IWeakTypeStorage* store = FindStore(parsed, false);
  return store != nullptr && store->Contains(parsed.itemHash);
}

}  // namespace Quorin::Sprig
