#include "repository/ScriptBinding.h"

#include <atomic>
#include <cstring>

#include "foundation/memory/Memory.h"
#include "repository/Objects.h"
#include "repository/TypeRegistry.h"
#include "sprig/Node.h"
#include "sprig/Parser.h"
#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace Quorin {

namespace Memory = Bravik::Memory;
using Bravik::CString;
using Bravik::IWeakTypeStorage;
using Sprig::CBoundStore;
using Sprig::CRegionValues;
using Sprig::CScriptState;

namespace {

// ---- Member reads ----

// How scripts read the first item of a member, by type code. ORDER MEMBER_TYPE
enum class EMemberRule : uint8_t { kSigned, kUnsigned, kFloat, kDouble, kUnreadable };
constexpr EMemberRule kMemberRules[32] = {
    EMemberRule::kSigned,   EMemberRule::kUnsigned,   // Byte, UnsignedByte
    EMemberRule::kSigned,   EMemberRule::kUnsigned,   // Word, UnsignedWord
    EMemberRule::kUnsigned, EMemberRule::kUnsigned,   // DWord, UnsignedDWord: bits as stored
    EMemberRule::kUnsigned, EMemberRule::kUnsigned,   // QWord, UnsignedQWord: the low 32 bits
    EMemberRule::kFloat,    EMemberRule::kDouble,     // Float, Double
    EMemberRule::kUnsigned, EMemberRule::kUnsigned,   // TextId, BlobId
    EMemberRule::kUnsigned, EMemberRule::kUnsigned,   // PrototypeId, InstanceId
    EMemberRule::kUnsigned, EMemberRule::kUnsigned,   // ListPrototypeId, ListInstanceId
    EMemberRule::kUnreadable, EMemberRule::kUnreadable, EMemberRule::kUnreadable,  // references
    // Codes 19 to 31 name no type.
    EMemberRule::kUnreadable, EMemberRule::kUnreadable, EMemberRule::kUnreadable,
    EMemberRule::kUnreadable, EMemberRule::kUnreadable, EMemberRule::kUnreadable,
    EMemberRule::kUnreadable, EMemberRule::kUnreadable, EMemberRule::kUnreadable,
    EMemberRule::kUnreadable, EMemberRule::kUnreadable, EMemberRule::kUnreadable,
    EMemberRule::kUnreadable};
static_assert(sizeof(kMemberRules) / sizeof(kMemberRules[0]) == 32);
static_assert(kMemberRules[kTypeReference] == EMemberRule::kUnreadable &&
              kMemberRules[kMemberTypeCount - 1] == EMemberRule::kUnreadable &&
              kMemberRules[kTypeReference - 1] == EMemberRule::kUnsigned);

// Reads `width` bytes (1, 2, 4 or 8, little-endian) as one value of the rule into `out`.
void ConvertMember(const uint8_t* bytes, uint32_t width, EMemberRule rule, TlxSprigValue& out) {
  uint64_t raw = 0;
  std::memcpy(&raw, bytes, width);
  if (rule == EMemberRule::kFloat) {
    float number;
    std::memcpy(&number, bytes, sizeof(number));
    Sprig::SetFloat(out, number);
  } else if (rule == EMemberRule::kDouble) {
    double number;
    std::memcpy(&number, bytes, sizeof(number));
    Sprig::SetFloat(out, static_cast<float>(number));
  } else if (rule == EMemberRule::kSigned && width < 4) {
    const uint32_t shift = 64 - width * 8;
    Sprig::SetInteger(out, static_cast<int32_t>(static_cast<int64_t>(raw << shift) >> shift));
  } else {
    Sprig::SetInteger(out, static_cast<int32_t>(static_cast<uint32_t>(raw)));
  }
}

CObject_Internal* FindObject(const Repository& repository, bool prototype, uint32_t id) {
  return prototype ? FindPrototype(repository, id) : FindInstance(repository, id);
}

Sprig::EMemberRead ReadObjectMember(const Repository& repository, const CObject_Internal& object,
                                    uint32_t memberHash, TlxSprigValue& out) {
  for (EDataKind kind : {EDataKind::kClass, EDataKind::kTemplate}) {
    const CTypeInfo_Internal* type = FindType(repository, TypeKindOf(kind), object.TypeId(kind));
    uint32_t offset = kNoOffset;
    const TlxMember* member = type != nullptr ? FindMember(*type, memberHash, &offset) : nullptr;
    if (member == nullptr) continue;
    const uint32_t code = TypeCodeOf(member->typeWord);
    const EMemberRule rule = kMemberRules[code];
    if (rule == EMemberRule::kUnreadable) return Sprig::EMemberRead::kTypeUnreadable;
    const uint32_t width = kMemberElementSizes[code];
    const auto* bytes = static_cast<const uint8_t*>(object.MemberAt(kind, offset, width));
    // A member whose data is not attached (or too short) exists but has no value.
    if (bytes == nullptr) {
      Sprig::SetInvalid(out);
    } else {
      ConvertMember(bytes, width, rule, out);
    }
    return Sprig::EMemberRead::kRead;
  }
  return Sprig::EMemberRead::kMemberMissing;
}

// ---- Stored References (every walk allocates nothing: it runs while stores are destroyed) ----

// The live state and its Repository; cleared when the state is destroyed, so that the region
// teardown of clear and shutdown (which destroys everything) skips the walks.
struct SBindingContext {
  Repository* repository = nullptr;
  CScriptState* state = nullptr;
};
SBindingContext g_context;

template <typename Dying>
void InvalidateEverywhere(Dying&& dying) {
  if (g_context.state == nullptr) return;
  g_context.state->InvalidateReferences(dying);
  g_context.repository->ForEachRegion(kAllRegions, [&](Region& region) {
    if (region.scriptValues == nullptr) return;
    region.scriptValues->Walk([&](const CBoundStore& store) {
      Sprig::InvalidateReferencesIn(store, dying);
      return true;
    });
  });
}

bool IsBoundStoreOf(const IWeakTypeStorage* owner, const CRegionValues* values) {
  const uint32_t kind = owner->GetKind();
  if (kind != Bravik::kStoragePrototype && kind != Bravik::kStorageInstance) return false;
  const auto* list = static_cast<const Bravik::CWeakTypeList*>(owner);
  return static_cast<const CBoundStore*>(list)->values == values;
}

// ---- The resolver ----

class CObjectResolver_Internal final : public Sprig::IObjectResolver {
 public:
  IWeakTypeStorage* GetBoundStore(bool prototype, uint32_t id, bool create) override {
    Repository& repository = *g_context.repository;
    CObject_Internal* object = FindObject(repository, prototype, id);
    Region* region = object != nullptr ? repository.FindRegion(object->GetRegion()) : nullptr;
    if (region == nullptr) return nullptr;
    if (region->scriptValues == nullptr) {
      if (!create) return nullptr;
      region->scriptValues = Memory::New<CRegionValues>(Memory::PoolForAlignment(alignof(CRegionValues)));
    }
    if (!create) return region->scriptValues->Find(prototype, id);
    return &region->scriptValues->GetOrCreate(prototype, id);
  }

  Sprig::EMemberRead ReadMember(bool prototype, uint32_t id, uint32_t memberHash,
                                TlxSprigValue& out) override {
    const CObject_Internal* object = FindObject(*g_context.repository, prototype, id);
    if (object == nullptr) return Sprig::EMemberRead::kObjectMissing;
    return ReadObjectMember(*g_context.repository, *object, memberHash, out);
  }

  // Runs on every variable look-up: without recording, or for a known hash, it costs a branch
  // or one tree descent and never hashes the text again.
  void RecordName(uint32_t hash, const Bravik::IString& name) override {
    Repository& repository = *g_context.repository;
    if (!repository.RecordsNames() || repository.FindRecordedName(hash) != nullptr) return;
    repository.RecordName(name);
  }

  void StoreDestroying(const IWeakTypeStorage& store) override {
    if (g_context.repository == nullptr) return;
    // The state has already cleaned its own stores.
    const IWeakTypeStorage* dying = &store;
    g_context.repository->ForEachRegion(kAllRegions, [&](Region& region) {
      if (region.scriptValues == nullptr) return;
      region.scriptValues->Walk([&](const CBoundStore& bound) {
        Sprig::InvalidateReferencesIn(bound, [dying](const IWeakTypeStorage* owner) { return owner == dying; });
        return true;
      });
    });
  }
};

CObjectResolver_Internal g_resolver;

// ---- Host functions ----

// One record per TlxSprigBind call that bound something; the callable's context points at it.
struct SHostFunction {
  SHostFunction* next;
  TlxSprigFunction function;
};
SHostFunction* g_hostFunctions = nullptr;

void FreeHostFunctions() {
  while (SHostFunction* record = g_hostFunctions) {
    g_hostFunctions = record->next;
    Memory::Free(record);
  }
}

// Calls the host with the resolved argument copies and copies what it returns: a Reference is
// followed, a String copied (the host's block stays the host's).
void CallHostFunction(const Sprig::SprigCallable& callable, TlxSprigValue& result,
                      const TlxSprigValue* arguments, uint64_t count) {
  const auto* record = reinterpret_cast<const SHostFunction*>(callable.context);
  const TlxSprigValue returned = record->function(count != 0 ? arguments : nullptr, count);
  Sprig::Assign(result, returned);
}

// ---- Teardown hooks ----

void DestroyScriptState(CScriptState* state) {
  if (state == g_context.state) g_context = SBindingContext{};
  Memory::Delete(state);
}

void DestroyRegionValues(CRegionValues* values) {
  if (values->GetCount() != 0) {
    InvalidateEverywhere([values](const IWeakTypeStorage* owner) { return IsBoundStoreOf(owner, values); });
  }
  Memory::Delete(values);
}

void ReleaseInstanceValues(CRegionValues* values, uint32_t instanceId) {
  values->Destroy(false, instanceId);
}

void InstallHooks() {
  ScriptHooks& hooks = GetScriptHooks();
  hooks.destroyScriptState = &DestroyScriptState;
  hooks.destroyRegionValues = &DestroyRegionValues;
  hooks.releaseInstanceValues = &ReleaseInstanceValues;
  hooks.freeBoundFunctions = &FreeHostFunctions;
}

// ---- Expression handles ----

TlxSprigValue InvalidValue() { return Sprig::MakeInvalidValue(); }

}  // namespace

// ---- Region values ----

namespace Sprig {

CRegionValues::~CRegionValues() {
  for (Bravik::TMapTree<uint32_t>* tree : {&m_prototypes, &m_instances}) {
    while (Bravik::TMapElement<uint32_t>* node = tree->root) {
      tree->Erase(node);
      Memory::Delete(static_cast<CBoundStore*>(node));
    }
  }
}

CBoundStore* CRegionValues::Find(bool prototype, uint32_t id) const {
  return static_cast<CBoundStore*>(TreeOf(prototype).Find(id));
}

CBoundStore& CRegionValues::GetOrCreate(bool prototype, uint32_t id) {
  if (CBoundStore* found = Find(prototype, id)) return *found;
  auto* store = Memory::New<CBoundStore>(Memory::PoolForAlignment(alignof(CBoundStore)), prototype,
                                         id, *this);
  TreeOf(prototype).Insert(store, id);
  return *store;
}

void CRegionValues::Destroy(bool prototype, uint32_t id) {
  CBoundStore* store = Find(prototype, id);
  if (store == nullptr) return;
  TreeOf(prototype).Erase(store);
  if (store->GetCount() != 0) {
    const IWeakTypeStorage* dying = store;
    InvalidateEverywhere([dying](const IWeakTypeStorage* owner) { return owner == dying; });
  }
  Memory::Delete(store);
}

}  // namespace Sprig

// ---- State ----

CScriptState* FindScriptState(const Repository& repository) { return repository.Index().scriptState; }

CScriptState& GetScriptState(Repository& repository) {
  RepositoryIndex& index = repository.Index();
  if (index.scriptState != nullptr) return *index.scriptState;
  InstallHooks();
  CScriptState* state = Memory::New<CScriptState>(Memory::PoolForAlignment(alignof(CScriptState)));
  state->SetObjectResolver(&g_resolver);
  index.scriptState = state;
  g_context = SBindingContext{&repository, state};
  return *state;
}

void BindHostFunction(Repository& repository, TlxSprigFunction function, const char* name) {
  if (function == nullptr || name == nullptr) return;
  CScriptState& state = GetScriptState(repository);
  auto* record = static_cast<SHostFunction*>(Memory::Allocate(sizeof(SHostFunction), Memory::kPool8));
  *record = SHostFunction{g_hostFunctions, function};
  g_hostFunctions = record;  // linked first: freed at clear or shutdown even if binding fails
  state.BindFunction(Sprig::SprigCallable{&CallHostFunction, reinterpret_cast<uintptr_t>(record)},
                     CString(name));
}

uint64_t CountHostFunctionRecords() {
  uint64_t count = 0;
  for (const SHostFunction* record = g_hostFunctions; record != nullptr; record = record->next) ++count;
  return count;
}

// ---- Expressions ----

TlxSprigExpression* ParseExpression(Repository&, const char* text) {
  if (text == nullptr) return nullptr;
  auto* handle = static_cast<TlxSprigExpression*>(Memory::Allocate(sizeof(TlxSprigExpression), Memory::kPool8));
  *handle = TlxSprigExpression{nullptr, nullptr};
  try {
    Sprig::CNodeHolder root = Sprig::Parse(CString(text), true);
    if (root.Get() != nullptr) {
      auto* count = static_cast<uint32_t*>(Memory::Allocate(sizeof(uint32_t), Memory::kValuePool));
      *count = 1;
      *handle = TlxSprigExpression{count, static_cast<Sprig::INode*>(root.Take())};
    }
  } catch (...) {
    Memory::Free(handle);
    throw;
  }
  return handle;
}

TlxSprigExpression* ShareExpression(const TlxSprigExpression* expression) {
  if (expression == nullptr) return nullptr;
  auto* handle = static_cast<TlxSprigExpression*>(Memory::Allocate(sizeof(TlxSprigExpression), Memory::kPool8));
  *handle = *expression;
  if (handle->refCount != nullptr) std::atomic_ref<uint32_t>(*handle->refCount).fetch_add(1);
  return handle;
}

void FreeExpression(TlxSprigExpression* expression) {
  if (expression == nullptr) return;
  if (uint32_t* count = expression->refCount) {
    if (std::atomic_ref<uint32_t>(*count).fetch_sub(1) == 1) {
      Memory::Free(count);
      Sprig::DestroyTree(static_cast<Sprig::INode*>(expression->root));
    }
  }
  Memory::Free(expression);
}

bool TryParseExpression(const char* text, char* messageBuffer, uint32_t bufferSize,
                        uint32_t* position) {
  if (text == nullptr) return false;
  try {
    Sprig::Parse(CString(text), false);
    return true;
  } catch (const CSprigException& error) {
    if (position != nullptr) *position = error.GetPosition();
    if (messageBuffer != nullptr && bufferSize != 0) {
      const char* message = static_cast<const char*>(error.GetMessage().GetData());
      if (message == nullptr) message = "";
      const uint64_t size = std::min<uint64_t>(std::strlen(message) + 1, bufferSize);
      std::memcpy(messageBuffer, message, size);
      messageBuffer[size - 1] = '\0';
    }
    return false;
  }
}

TlxSprigValue ExecuteText(Repository& repository, const char* text) {
  if (text == nullptr) return InvalidValue();
  const Sprig::CNodeHolder root = Sprig::Parse(CString(text), true);
  Sprig::CTempValue result;
  Sprig::CTempValue evaluated;
  Sprig::EvaluateTree(GetScriptState(repository), root.Get(), evaluated.Get());
  if (evaluated.Get().kind == Bravik::kSprigReference) {
    Sprig::Assign(result.Get(), evaluated.Get());  // a resolved copy, never a Reference
  } else {
    result.Get() = evaluated.Take();  // a new String block passes on as it is
  }
  return result.Take();
}

namespace {
// Out of line: its locals would otherwise make the scalar path build its value in memory.
[[gnu::noinline]] Sprig::SValueWords EvaluateGenerally(CScriptState& state, const Sprig::INode* root) {
  Sprig::CTempValue result;
  Sprig::EvaluateTree(state, root, result.Get(), false);
  return Sprig::ToWords(result.Take());
}
}  // namespace

Sprig::SValueWords ExecuteExpression(Repository& repository, const TlxSprigExpression* expression) {
  Sprig::Scalar scalar = Sprig::MakeScalar(Bravik::kSprigInvalid, 0);
  if (expression != nullptr && expression->root != nullptr) {
    CScriptState& state = GetScriptState(repository);
    const auto* root = static_cast<const Sprig::INode*>(expression->root);
    scalar = Sprig::EvaluateScalarTree(state, root);
    if (scalar == Sprig::kNoScalar) return EvaluateGenerally(state, root);
  }
  return Sprig::ScalarWords(scalar);
}

TlxSprigValue GetVariableSilently(Repository& repository, const char* name) {
  if (name == nullptr) return InvalidValue();
  Sprig::CTempValue result;
  GetScriptState(repository).GetVariable(CString(name), true, result.Get());
  return result.Take();
}

bool VariableExists(Repository& repository, const char* name) {
  // The state may be created here (member forms need its resolver); no variable is.
  return name != nullptr && GetScriptState(repository).VariableExists(CString(name));
}

void* CreateNamespace(Repository& repository, const char* name) {
  if (name == nullptr) return nullptr;
  return &GetScriptState(repository).GetOrCreateNamespace(CString(name));
}

void ReleaseNamespace(Repository& repository, const char* name) {
  CScriptState* state = FindScriptState(repository);
  if (name != nullptr && state != nullptr) state->ReleaseNamespace(Bravik::CalculateHash(CString(name)));
}

}  // namespace Quorin
