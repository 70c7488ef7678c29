#include "repository/ScriptBinding.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"
#include "foundation/system/Assert.h"
#include "repository/Objects.h"
#include "repository/Texts.h"
#include "repository/TypeRegistry.h"
#include "sprig/Node.h"
#include "sprig/Parser.h"
#include "sprig/SprigException.h"

namespace Quorin {

namespace Memory = Bravik::Memory;
using Bravik::CString;
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

template <typename T, typename... Args>
T* NewRecord(Args&&... args) {
  return Memory::New<T>(Memory::PoolForAlignment(alignof(T)), std::forward<Args>(args)...);
}

void DestroyTree(void* tree) { Sprig::DestroyTree(static_cast<Sprig::INode*>(tree)); }

TlxSprigValue InvalidValue() { return Sprig::MakeInvalidValue(); }

}  // namespace

// ---- Region values ----

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

CBoundStore& CRegionValues::GetOrCreate(bool prototype, uint32_t id, Sprig::CReferenceGuard& guard) {
  if (CBoundStore* found = Find(prototype, id)) return *found;
  auto* store = NewRecord<CBoundStore>(prototype, id, guard);
  TreeOf(prototype).Insert(store, id);
  return *store;
}

// ---- The objects as scripts see them ----

Sprig::IWeakTypeStorage* CObjectResolver_Internal::GetBoundStore(bool prototype, uint32_t id, bool create) {
  CObject_Internal* object = FindObject(m_repository, prototype, id);
  Region* region = object != nullptr ? m_repository.FindRegion(object->GetRegion()) : nullptr;
  if (region == nullptr) return nullptr;
  if (region->scriptValues == nullptr) {
    if (!create) return nullptr;
    region->scriptValues = NewRecord<CRegionValues>();
  }
  if (!create) return region->scriptValues->Find(prototype, id);
  return &region->scriptValues->GetOrCreate(prototype, id, m_guard);
}

Sprig::EMemberRead CObjectResolver_Internal::ReadMember(bool prototype, uint32_t id, uint32_t memberHash,
                                                        TlxSprigValue& out) {
  const CObject_Internal* object = FindObject(m_repository, prototype, id);
  if (object == nullptr) return Sprig::EMemberRead::kObjectMissing;
  return ReadObjectMember(m_repository, *object, memberHash, out);
}

// Runs on every variable look-up that creates: without recording, or for a known hash, it costs
// a branch or one tree descent and never hashes the text again.
void CObjectResolver_Internal::RecordName(uint32_t hash, const Bravik::IString& name) {
  if (!m_repository.RecordsNames() || m_repository.FindRecordedName(hash) != nullptr) return;
  m_repository.RecordName(name);
}

// ---- The binding ----

namespace {

// One per binding made with TlxSprigBind; the callable's context points at it. It is read only
// when a call starts, so the record can go with its binding even while that call runs.
struct SHostFunction : Bravik::TMapElement<uint32_t> {
  TlxSprigFunction function;
};

// Calls the host with the resolved argument copies and copies what it returns: a Reference is
// followed, a String copied (the host's block stays the host's).
void CallHostFunction(const Sprig::SprigCallable& callable, TlxSprigValue& result, const TlxSprigValue* arguments,
                      uint64_t count) {
  const auto* record = reinterpret_cast<const SHostFunction*>(callable.context);
  const TlxSprigValue returned = record->function(count != 0 ? arguments : nullptr, count);
  Sprig::Assign(result, returned);
}

}  // namespace

CScriptBinding::CScriptBinding(Repository& repository)
    : m_resolver(repository, m_state.References()) {
  m_state.SetObjectResolver(&m_resolver);
}

CScriptBinding::~CScriptBinding() {
  m_state.Clear();
  FreeHostFunctions(m_globalFunctions);
  FreeHostFunctions(m_namespaceFunctions);
}

void CScriptBinding::Reset() {
  m_state.Clear();
  FreeHostFunctions(m_globalFunctions);
  FreeHostFunctions(m_namespaceFunctions);
}

void CScriptBinding::FreeHostFunctions(Bravik::TMapTree<uint32_t>& records) {
  while (Bravik::TMapElement<uint32_t>* record = records.root) {
    records.Erase(record);
    Memory::Delete(static_cast<SHostFunction*>(record));
  }
}

void CScriptBinding::ReleaseRegion(Region& region) {
  region.texts.Walk([&](CText_Internal& text) {
    if (text.script != nullptr) {
      m_state.PrepareDisposal();
      Sprig::INode* tree = text.script;
      text.script = nullptr;
      text.scriptParsed = false;
      m_state.Dispose(tree, &DestroyTree);
    }
    return true;
  });
  if (CRegionValues* values = region.scriptValues) {
    m_state.PrepareDisposal();
    region.scriptValues = nullptr;
    m_state.Dispose(values);
  }
}

void CScriptBinding::ReleaseInstance(Region& region, uint32_t instanceId) {
  CBoundStore* store = region.scriptValues != nullptr ? region.scriptValues->Find(false, instanceId) : nullptr;
  if (store == nullptr) return;
  m_state.PrepareDisposal();
  region.scriptValues->Unlink(*store);
  m_state.Dispose(store);
}

// ---- Host functions ----

void CScriptBinding::BindHostFunction(TlxSprigFunction function, const char* name) {
  if (function == nullptr || name == nullptr) return;
  const CString text(name);
  Sprig::SFunctionName parsed;
  parsed.Parse(text);
  if (m_state.IsFunctionBound(parsed)) return;
  auto* record = NewRecord<SHostFunction>();
  record->function = function;
  try {
    m_state.BindFunction(Sprig::SprigCallable{&CallHostFunction, reinterpret_cast<uintptr_t>(record)}, parsed);
  } catch (...) {
    Memory::Delete(record);
    throw;
  }
  if (parsed.inNamespace) {
    m_namespaceFunctions.Insert(record, parsed.namespaceHash);
  } else {
    m_globalFunctions.Insert(record, parsed.key);
  }
}

uint64_t CScriptBinding::CountHostFunctionRecords() const {
  return m_globalFunctions.count + m_namespaceFunctions.count;
}

// ---- Namespaces and variables ----

void* CScriptBinding::CreateNamespace(const char* name) {
  if (name == nullptr) return nullptr;
  return &m_state.GetOrCreateNamespace(CString(name));
}

void CScriptBinding::ReleaseNamespace(const char* name) {
  if (name == nullptr) return;
  const uint32_t hash = Bravik::CalculateHash(CString(name));
  m_state.ReleaseNamespace(hash);
  // The namespace's function table went with it: so do the records its callables pointed at.
  while (Bravik::TMapElement<uint32_t>* record = m_namespaceFunctions.Find(hash)) {
    m_namespaceFunctions.Erase(record);
    Memory::Delete(static_cast<SHostFunction*>(record));
  }
}

// A Reference handed to the host lets it write into the variable, even a Reference to another.
void CScriptBinding::Expose(const TlxSprigValue& value) {
  if (value.kind != Sprig::kSprigReference) return;
  m_state.References().Expose(*reinterpret_cast<TlxSprigValue*>(static_cast<uintptr_t>(value.payload)));
}

TlxSprigValue CScriptBinding::GetVariableSilently(const char* name) {
  if (name == nullptr) return InvalidValue();
  Sprig::CTempValue result;
  m_state.GetVariable(CString(name), true, result.Get());
  Expose(result.Get());
  return result.Take();
}

bool CScriptBinding::VariableExists(const char* name) {
  return name != nullptr && m_state.VariableExists(CString(name));
}

// ---- Scripts ----

TlxSprigValue CScriptBinding::ExecuteText(const char* text) {
  if (text == nullptr) return InvalidValue();
  Sprig::CNodeHolder tree = Sprig::Parse(CString(text), true);
  Sprig::CTempValue result;
  CScriptState::CRunningScript running(m_state);
  Sprig::CTempValue evaluated;
  Sprig::EvaluateTree(m_state, tree.Get(), evaluated.Get());
  if (evaluated.Get().kind == Sprig::kSprigReference) {
    Sprig::Assign(result.Get(), evaluated.Get());  // a resolved copy, never a Reference
  } else {
    result.Get() = evaluated.Take();  // a new String block passes on as it is
  }
  return result.Take();
}

namespace {
// Out of line: its locals would otherwise make the scalar path build its value in memory.
[[gnu::noinline]] Sprig::SValueWords EvaluateGenerally(CScriptState& state, const Sprig::INode* root) {
  CScriptState::CRunningScript running(state);
  Sprig::CTempValue result;
  Sprig::EvaluateTree(state, root, result.Get(), false);
  return Sprig::ToWords(result.Take());
}
}  // namespace

Sprig::SValueWords CScriptBinding::ExecuteExpression(const TlxSprigExpression* expression) {
  Sprig::Scalar scalar = Sprig::MakeScalar(Sprig::kSprigInvalid, 0);
  if (expression != nullptr && expression->root != nullptr) {
    const auto* root = static_cast<const Sprig::INode*>(expression->root);
    // The scalar evaluation calls no function: nothing can be released under it.
    scalar = Sprig::EvaluateScalarTree(m_state, root);
    if (scalar == Sprig::kNoScalar) {
      const Sprig::SValueWords result = EvaluateGenerally(m_state, root);
      Expose(Sprig::FromWords(result));
      return result;
    }
  }
  return Sprig::ScalarWords(scalar);
}

void CScriptBinding::RunTextScript(CText_Internal& text, TlxSprigValue& value) {
  const CString source(text.GetBytes(), text.GetEncoding());
  // A text still being filled (by an import) is parsed each time and not kept.
  if (!text.IsFilled()) {
    Sprig::CNodeHolder tree = Sprig::Parse(source, true);
    CScriptState::CRunningScript running(m_state);
    Sprig::EvaluateTree(m_state, tree.Get(), value);
    return;
  }
  if (!text.scriptParsed) {
    text.script = Sprig::Parse(source, true).Take();
    text.scriptParsed = true;
  }
  CScriptState::CRunningScript running(m_state);
  Sprig::EvaluateTree(m_state, text.script, value);
}

// ---- Expression handles ----

TlxSprigExpression* ParseExpression(const char* text) {
  if (text == nullptr) return nullptr;
  auto* handle = static_cast<TlxSprigExpression*>(Memory::Allocate(sizeof(TlxSprigExpression), Memory::kPool8));
  *handle = TlxSprigExpression{nullptr, nullptr};
  try {
    Sprig::CNodeHolder tree = Sprig::Parse(CString(text), true);
    if (tree.Get() != nullptr) {
      auto* count = static_cast<uint32_t*>(Memory::Allocate(sizeof(uint32_t), Memory::kValuePool));
      *count = 1;
      *handle = TlxSprigExpression{count, static_cast<Sprig::INode*>(tree.Take())};
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

void CScriptBinding::FreeExpression(TlxSprigExpression* expression) {
  if (expression == nullptr) return;
  if (uint32_t* count = expression->refCount) {
    m_state.PrepareDisposal();  // the tree may be running
    if (std::atomic_ref<uint32_t>(*count).fetch_sub(1) == 1) {
      Memory::Free(count);
      m_state.Dispose(expression->root, &DestroyTree);
    }
  }
  Memory::Free(expression);
}

namespace {
// The error's position and the first bytes of its message, always terminated.
void ReportError(const CSprigException& error, char* messageBuffer, uint32_t bufferSize, uint32_t* position) {
  if (position != nullptr) *position = error.GetPosition();
  if (messageBuffer != nullptr && bufferSize != 0) {
    const char* message = static_cast<const char*>(error.GetMessage().GetData());
    if (message == nullptr) message = "";
    const uint64_t size = std::min<uint64_t>(std::strlen(message) + 1, bufferSize);
    std::memcpy(messageBuffer, message, size);
    messageBuffer[size - 1] = '\0';
  }
}
}  // namespace

bool TryParseExpression(const char* text, char* messageBuffer, uint32_t bufferSize,
                        uint32_t* position) {
  if (text == nullptr) return false;
  try {
    Sprig::Parse(CString(text), false);
    return true;
  } catch (const CSprigException& error) {
    ReportError(error, messageBuffer, bufferSize, position);
    return false;
  }
}

bool CScriptBinding::CheckText(const char* text, char* messageBuffer, uint32_t bufferSize, uint32_t* position) {
  if (text == nullptr) return false;
  try {
    const Sprig::CNodeHolder tree = Sprig::Parse(CString(text), false);
    Sprig::CheckTree(m_state, tree.Get());
    return true;
  } catch (const CSprigException& error) {
    ReportError(error, messageBuffer, bufferSize, position);
    return false;
  }
}

}  // namespace Quorin
