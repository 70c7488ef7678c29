#include "interchange/ImportBuilder.h"

#include <cstring>

#include "repository/ScriptBinding.h"

namespace Quorin {

CImportBuilder::CImportBuilder(Repository& repository) : m_repository(repository) {}

uint32_t CImportBuilder::RecordName(const char* utf8) {
  const Bravik::CString name(utf8);
  m_repository.RecordName(name);
  return Bravik::CalculateHash(name);
}

// ---- Types -----------------------------------------------------------------------------------

void CImportBuilder::BeginType(ETypeKind kind) { Quorin::BeginType(m_repository, kind, kNoId16); }

bool CImportBuilder::AddMember(ETypeKind kind, uint32_t memberId, uint32_t typeCode, uint32_t items) {
  if (AddPendingMember(m_repository, kind, memberId, typeCode, items)) return true;
  ++m_skipped;
  return false;
}

void CImportBuilder::AddFeature(uint32_t featureId) { AddPendingFeature(m_repository, featureId); }

bool CImportBuilder::EndType(ETypeKind kind, uint32_t nameId, uint16_t typeId) {
  for (auto& slots : m_types) {
    for (STypeSlot& slot : slots) slot = STypeSlot{};
  }
  if (Quorin::EndType(m_repository, kind, nameId, typeId) != nullptr) return true;
  ++m_skipped;
  return false;
}

// ---- Objects ---------------------------------------------------------------------------------

CTypeInfo_Internal* CImportBuilder::TypeOf(ETypeKind kind, uint16_t id) {
  STypeSlot& slot = m_types[kind == ETypeKind::kClass ? 0 : 1][id % kTypeCacheSlots];
  if (slot.id != id) slot = STypeSlot{id, FindType(m_repository, kind, id)};
  return slot.type;
}

uint64_t CImportBuilder::UnregisteredPartSize(uint64_t fileSize) const {
  return fileSize < kMaxUnregisteredPart ? fileSize : kMaxUnregisteredPart;
}

void CImportBuilder::BeginObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId,
                                 uint16_t templateId, uint64_t classSize, uint64_t templateSize) {
  m_object = SObject{};
  m_object.prototype = prototype;
  m_object.id = id;
  m_object.prototypeId = prototype ? kNoId32 : prototypeId;
  m_object.typeId[0] = classId;
  m_object.typeId[1] = templateId;
  const uint64_t fileSizes[2] = {classSize, templateSize};
  for (uint32_t i = 0; i < 2; ++i) {
    const ETypeKind kind = i == 0 ? ETypeKind::kClass : ETypeKind::kTemplate;
    m_object.type[i] = TypeOf(kind, m_object.typeId[i]);
    if (m_object.type[i] != nullptr) {
      m_object.size[i] = m_object.type[i]->sizeByte;
    } else if (i == 0 || templateId != kNoId16) {
      m_object.size[i] = UnregisteredPartSize(fileSizes[i]);
    }
  }
  const uint64_t total = m_object.size[0] + m_object.size[1];
  m_data.Clear();
  if (m_data.Capacity() < total) m_data.Reserve(total);  // Reserve sets the capacity exactly
  if (total != 0) std::memset(m_data.Data(), 0, total);
  m_object.active = true;
}

SMemberSlot CImportBuilder::LocateMember(EDataKind kind, uint32_t memberId, uint32_t fileTypeCode) {
  const uint32_t i = Index(kind);
  SMemberSlot slot;
  uint32_t offset = 0;
  const TlxMember* member =
      m_object.type[i] != nullptr ? FindMember(*m_object.type[i], memberId, &offset) : nullptr;
  if (member != nullptr) {
    slot.offset = offset;
    slot.typeCode = TypeCodeOf(member->typeWord);
    slot.maxItems = ElementCountOf(member->typeWord);
  } else {
    slot.offset = m_object.running[i];
    slot.typeCode = fileTypeCode < kMemberTypeCount ? fileTypeCode : 0;
    slot.maxItems = UINT32_MAX;
  }
  return slot;
}

void CImportBuilder::StoreItem(EDataKind kind, SMemberSlot& slot, const void* element) {
  const uint32_t i = Index(kind);
  const uint32_t width = kMemberElementSizes[slot.typeCode];
  m_object.running[i] += width;
  if (!m_object.active || slot.written >= slot.maxItems) return;
  const uint64_t at = slot.offset + uint64_t{slot.written} * width;
  ++slot.written;
  if (at + width > m_object.size[i]) return;
  const uint64_t base = i == 0 ? 0 : m_object.size[0];
  std::memcpy(m_data.Data() + base + at, element, width);
}

void CImportBuilder::EndObject() {
  if (!m_object.active) return;
  m_object.active = false;
  CObject_Internal* object =
      m_object.prototype
          ? CreatePrototype(m_repository, m_object.id, m_object.typeId[0], m_object.typeId[1])
          : CreateEmptyInstance(m_repository, m_object.id, m_object.typeId[0], m_object.typeId[1],
                                m_object.prototypeId);
  for (uint32_t i = 0; i < 2; ++i) {
    if (!m_object.present[i] || m_object.size[i] == 0) continue;
    const EDataKind kind = i == 0 ? EDataKind::kClass : EDataKind::kTemplate;
    StoreSizedData(m_repository, *object, kind, m_data.Data() + (i == 0 ? 0 : m_object.size[0]),
                   static_cast<uint32_t>(m_object.size[i]));
  }
}

void CImportBuilder::AddWholeObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId,
                                    uint16_t templateId, const void* classData, uint32_t classSize,
                                    const void* templateData, uint32_t templateSize) {
  CObject_Internal* object = prototype ? CreatePrototype(m_repository, id, classId, templateId)
                                       : CreateEmptyInstance(m_repository, id, classId, templateId, prototypeId);
  if (classSize != 0) StoreSizedData(m_repository, *object, EDataKind::kClass, classData, classSize);
  if (templateSize != 0) StoreSizedData(m_repository, *object, EDataKind::kTemplate, templateData, templateSize);
}

// ---- Lists -----------------------------------------------------------------------------------

void CImportBuilder::BeginList(bool instance, uint32_t id, uint32_t prototypeId, uint32_t items) {
  m_list = nullptr;
  if (instance) {
    m_list = CreateEmptyListInstance(m_repository, id, items, prototypeId);
  } else {
    // An empty list prototype is complete (sealed) at once, as the host would make it.
    m_list = items == 0 ? CreateListPrototype(m_repository, id, nullptr, 0)
                        : CreateEmptyListPrototype(m_repository, id, items);
  }
  m_listRoom = items;
}

void CImportBuilder::AddListEntry(const TlxReference& entry) {
  if (m_list == nullptr || m_listRoom == 0) {
    ++m_skipped;
    return;
  }
  --m_listRoom;
  m_list->AddReference(entry);
}

void CImportBuilder::AddListEntries(const TlxReference* entries, uint32_t count) {
  const uint32_t room = count < m_listRoom ? count : m_listRoom;
  const uint32_t taken = m_list == nullptr ? 0 : m_list->AppendEntries(entries, room);
  m_listRoom -= taken;
  m_skipped += count - taken;
}

// ---- Texts and blobs -------------------------------------------------------------------------

void CImportBuilder::AddText(uint32_t id, const char* bytes, uint32_t length) {
  BeginText(id, length + 1, Bravik::kUtf8);
  AppendText(bytes, length);
  EndText();
}

void CImportBuilder::AddTerminatedText(uint32_t id, const void* bytes, uint32_t size,
                                      Bravik::StringEncoding encoding) {
  CreateTextOfSize(m_repository, id, bytes, size, encoding);
}

void CImportBuilder::BeginText(uint32_t id, uint32_t capacity, Bravik::StringEncoding encoding) {
  m_text = CreateTextWithCapacity(m_repository, id, capacity, encoding);
}

void CImportBuilder::AppendText(const void* bytes, uint32_t count) {
  if (m_text == nullptr || count == 0) return;
  const uint32_t terminator = Bravik::UnitSize(m_text->GetEncoding());
  const uint32_t room = m_text->GetCapacity() - m_text->GetWritten();
  const uint32_t fits = room > terminator ? room - terminator : 0;
  m_text->AppendBytes(bytes, count < fits ? count : fits);
}

void CImportBuilder::EndText() {
  if (m_text != nullptr) m_text->Close();
  m_text = nullptr;
}

bool CImportBuilder::BeginBlob(uint32_t id, uint32_t size) {
  m_blob = CreateBlob(m_repository, id, nullptr, size);
  if (m_blob != nullptr) return true;
  ++m_skipped;
  return false;
}

void CImportBuilder::WriteBlob(const void* bytes, uint32_t count) {
  if (m_blob == nullptr) return;
  const uint32_t room = m_blob->GetRemaining();
  m_blob->WriteBytes(bytes, count < room ? count : room);
}

void CImportBuilder::EndBlob() {
  if (m_blob == nullptr) return;
  const uint32_t remaining = m_blob->GetRemaining();
  if (remaining != 0) std::memset(m_blob->data + (m_blob->size - remaining), 0, remaining);
  m_blob = nullptr;
}

// ---- Variables -------------------------------------------------------------------------------

// The store is looked up once per run of variables bound to it. Nothing an import does disposes
// of a store, so the pointer stays good for the builder's life.
Sprig::IWeakTypeStorage* CImportBuilder::BoundStore(EVariableStore store, uint32_t storeId) {
  if (m_lastStorage != nullptr && store == m_lastStore && storeId == m_lastStoreId) return m_lastStorage;
  Sprig::SVariableName name;  // no texts: the file's names were recorded already
  name.objectFound = true;
  name.objectId = storeId;
  name.scopeHash = storeId;
  // ORDER VARIABLE_STORE
  constexpr Sprig::EVariableScope kScopes[] = {Sprig::EVariableScope::kGlobal, Sprig::EVariableScope::kNamespace,
                                               Sprig::EVariableScope::kPrototype,
                                               Sprig::EVariableScope::kInstance};
  name.scope = kScopes[static_cast<uint32_t>(store)];
  Sprig::IWeakTypeStorage* found = m_repository.Scripts().State().FindStore(name, true);
  if (found != nullptr) {
    m_lastStore = store;
    m_lastStoreId = storeId;
    m_lastStorage = found;
  }
  return found;
}

TlxSprigValue* CImportBuilder::VariableEntry(EVariableStore store, uint32_t storeId, uint32_t id) {
  if (store == EVariableStore::kGlobal || (store == EVariableStore::kNamespace && storeId == kNoId32)) {
    return m_repository.Scripts().State().GetGlobals().GetOrCreate(id);
  }
  Sprig::IWeakTypeStorage* storage = BoundStore(store, storeId);
  return storage != nullptr ? storage->GetOrCreate(id) : nullptr;
}

bool CImportBuilder::SetVariable(EVariableStore store, uint32_t storeId, uint32_t id, const SVariableValue& value) {
  TlxSprigValue* entry = VariableEntry(store, storeId, id);
  if (entry == nullptr) {
    ++m_skipped;
    return false;
  }
  AssignValue(*entry, value);
  return true;
}

void CImportBuilder::AssignValue(TlxSprigValue& entry, const SVariableValue& value) {
  // The variable itself takes the value: a Reference it held is not followed.
  Sprig::Release(entry);
  switch (value.kind) {
    case Sprig::kSprigBoolean: Sprig::SetBoolean(entry, value.flag); break;
    case Sprig::kSprigInteger: Sprig::SetInteger(entry, value.integer); break;
    case Sprig::kSprigFloat: Sprig::SetFloat(entry, value.number); break;
    case Sprig::kSprigString: Sprig::SetString(entry, value.text != nullptr ? value.text : ""); break;
    case Sprig::kSprigReference: {
      TlxSprigValue* target = VariableEntry(value.targetStore, value.targetStoreId, value.targetId);
      if (target != nullptr && target != &entry) Sprig::MakeReference(entry, target);
      break;
    }
    default: break;
  }
}

}  // namespace Quorin
