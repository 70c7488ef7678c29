#include "repository/TypeRegistry.h"

#include "foundation/string/String.h"

namespace Quorin {

// ORDER MEMBER_TYPE
const char* const kMemberTypeNames[kMemberTypeCount] = {
    "Byte",   "UnsignedByte", "Word",   "UnsignedWord", "DWord",       "UnsignedDWord",
    "QWord",  "UnsignedQWord", "Float", "Double",       "TextId",      "BlobId",
    "PrototypeId", "InstanceId", "ListPrototypeId", "ListInstanceId", "Reference",
    "ListReference", "ScriptReference"};

const char* MemberTypeName(uint32_t code) {
  return code < kMemberTypeCount ? kMemberTypeNames[code] : kMemberTypeNames[0];
}

namespace {

Bravik::TMapTree<uint16_t>& TreeOf(RepositoryIndex& index, ETypeKind kind) {
  return kind == ETypeKind::kClass ? index.classes : index.templates;
}

Bravik::TArray<TlxMember>& PendingMembers(RepositoryIndex& index, ETypeKind kind) {
  return kind == ETypeKind::kClass ? index.pendingClassMembers : index.pendingTemplateMembers;
}

uint64_t SumSizes(const TlxMember* members, uint32_t count) {
  uint64_t size = 0;
  for (uint32_t i = 0; i < count; ++i) size += MemberSize(members[i]);
  return size;
}

uint32_t HashOf(const char* name) { return Bravik::CalculateHash(Bravik::CString(name)); }

bool FitsTypeWord(uint32_t typeCode, uint32_t count) { return typeCode <= kTypeCodeMask && count <= kMaxElementCount; }

}  // namespace

void CTypeInfo_Internal::EraseFromIndex(RepositoryIndex& index) { TreeOf(index, kind).Erase(this); }

CTypeInfo_Internal* FindType(const Repository& repository, ETypeKind kind, uint16_t id) {
  Bravik::TMapElement<uint16_t>* node = TreeOf(repository.Index(), kind).Find(id);
  return node != nullptr ? static_cast<CTypeInfo_Internal*>(node) : nullptr;
}

uint32_t GetTypeSize(const Repository& repository, ETypeKind kind, uint16_t id) {
  const CTypeInfo_Internal* type = FindType(repository, kind, id);
  return type != nullptr ? type->sizeByte : 0;
}

const TlxMember* FindMember(const CTypeInfo_Internal& type, uint32_t nameHash, uint32_t* offset) {
  uint64_t running = 0;
  for (uint32_t i = 0; i < type.memberCount; ++i) {
    if (type.members[i].nameHash == nameHash) {
      if (offset != nullptr) *offset = static_cast<uint32_t>(running);
      return &type.members[i];
    }
    running += MemberSize(type.members[i]);
  }
  return nullptr;
}

uint32_t FindMemberOffset(const CTypeInfo_Internal& type, uint32_t nameHash) {
  uint32_t offset = kNoOffset;
  FindMember(type, nameHash, &offset);
  return offset;
}

const TlxMember* FindMemberByIndex(const CTypeInfo_Internal& type, uint32_t index) {
  return index < type.memberCount ? &type.members[index] : nullptr;
}

const TlxMember* FindMemberByOffset(const CTypeInfo_Internal& type, uint32_t offset) {
  uint64_t running = 0;
  for (uint32_t i = 0; i < type.memberCount && running <= offset; ++i) {
    if (running == offset) return &type.members[i];
    running += MemberSize(type.members[i]);
  }
  return nullptr;
}

bool HasFeature(const CTypeInfo_Internal& type, uint32_t featureHash) {
  for (uint32_t i = 0; i < type.featureCount; ++i) {
    if (type.features[i] == featureHash) return true;
  }
  return false;
}

uint32_t CopyMemberRecords(const Repository& repository, ETypeKind kind, uint16_t id, TlxMember* out,
                           uint32_t maxRecords) {
  const CTypeInfo_Internal* type = FindType(repository, kind, id);
  if (type == nullptr) return 0;
  for (uint32_t i = 0; i < type->memberCount && i < maxRecords; ++i) out[i] = type->members[i];
  return type->memberCount;
}

uint32_t CopyFeatureHashes(const Repository& repository, uint16_t templateId, uint32_t* out,
                           uint32_t maxHashes) {
  const CTypeInfo_Internal* type = FindType(repository, ETypeKind::kTemplate, templateId);
  if (type == nullptr) return 0;
  for (uint32_t i = 0; i < type->featureCount && i < maxHashes; ++i) out[i] = type->features[i];
  return type->featureCount;
}

CTypeInfo_Internal* RegisterType(Repository& repository, ETypeKind kind, uint32_t nameHash, uint16_t id,
                                 const TlxMember* members, uint32_t memberCount,
                                 const uint32_t* features, uint32_t featureCount) {
  if (kind == ETypeKind::kClass && id > kReservedClassIds && FindType(repository, kind, id) != nullptr) {
    return nullptr;
  }
  if ((members == nullptr && memberCount != 0) || (features == nullptr && featureCount != 0)) {
    return nullptr;
  }
  const uint64_t size = SumSizes(members, memberCount);
  if (size > kMaximumTypeSize) return nullptr;

  Region& region = repository.CurrentRegion();
  CTypeInfo_Internal* type = region.types.Emplace(kind, region.id);
  // Records copied after the item exists; if a copy fails the item goes back to the pool.
  try {
    type->members = region.members.Append(members, memberCount, type->firstMember);
    type->firstFeature = kNoId32;
    if (kind == ETypeKind::kTemplate) {
      type->features = region.features.Append(features, featureCount, type->firstFeature);
      type->featureCount = featureCount;
    }
  } catch (...) {
    region.types.Release(type);
    throw;
  }
  type->nameHash = nameHash;
  type->memberCount = memberCount;
  type->sizeByte = static_cast<uint32_t>(size);
  TreeOf(repository.Index(), kind).Insert(type, id);
  return type;
}

void BeginType(Repository& repository, ETypeKind kind, uint16_t baseId) {
  RepositoryIndex& index = repository.Index();
  Bravik::TArray<TlxMember>& pending = PendingMembers(index, kind);
  pending.Free();
  if (kind == ETypeKind::kTemplate) index.pendingFeatures.Free();
  if (baseId == kNoId16) return;
  const CTypeInfo_Internal* base = FindType(repository, kind, baseId);
  if (base == nullptr) return;
  if (base->memberCount != 0) pending.Reserve(base->memberCount);
  for (uint32_t i = 0; i < base->memberCount; ++i) pending.Append(base->members[i]);
  if (kind == ETypeKind::kTemplate) {
    if (base->featureCount != 0) index.pendingFeatures.Reserve(base->featureCount);
    for (uint32_t i = 0; i < base->featureCount; ++i) index.pendingFeatures.Append(base->features[i]);
  }
}

bool AddPendingMember(Repository& repository, ETypeKind kind, uint32_t nameHash, uint32_t typeCode,
                      uint32_t count) {
  if (!FitsTypeWord(typeCode, count)) return false;
  PendingMembers(repository.Index(), kind).Append(TlxMember{nameHash, MakeTypeWord(typeCode, count)});
  return true;
}

void AddPendingFeature(Repository& repository, uint32_t featureHash) {
  repository.Index().pendingFeatures.Append(featureHash);
}

CTypeInfo_Internal* EndType(Repository& repository, ETypeKind kind, uint32_t nameHash, uint16_t id) {
  RepositoryIndex& index = repository.Index();
  const Bravik::TArray<TlxMember>& pending = PendingMembers(index, kind);
  const bool isTemplate = kind == ETypeKind::kTemplate;
  return RegisterType(repository, kind, nameHash, id, pending.Data(),
                      static_cast<uint32_t>(pending.Count()),
                      isTemplate ? index.pendingFeatures.Data() : nullptr,
                      isTemplate ? static_cast<uint32_t>(index.pendingFeatures.Count()) : 0);
}

// Null names register and add nothing: there is no name to hash.

void RegisterTypeNamed(Repository& repository, ETypeKind kind, const char* name, uint16_t id,
                       const TlxMember* members, uint32_t memberCount, const uint32_t* features,
                       uint32_t featureCount) {
  if (name == nullptr) return;
  RegisterType(repository, kind, repository.HashAndRecordName(name), id, members, memberCount,
               features, featureCount);
}

void AddMemberNamed(Repository& repository, ETypeKind kind, const char* name, uint32_t typeCode,
                    uint32_t count) {
  // Checked before the name is recorded, so a refused member leaves no trace.
  if (name == nullptr || !FitsTypeWord(typeCode, count)) return;
  AddPendingMember(repository, kind, repository.HashAndRecordName(name), typeCode, count);
}

void AddFeatureNamed(Repository& repository, const char* name) {
  if (name == nullptr) return;
  AddPendingFeature(repository, repository.HashAndRecordName(name));
}

void EndTypeNamed(Repository& repository, ETypeKind kind, const char* name, uint16_t id) {
  if (name == nullptr) return;
  EndType(repository, kind, repository.HashAndRecordName(name), id);
}

uint32_t GetMemberOffsetNamed(const Repository& repository, ETypeKind kind, uint16_t id, const char* name) {
  const CTypeInfo_Internal* type = FindType(repository, kind, id);
  return type != nullptr && name != nullptr ? FindMemberOffset(*type, HashOf(name)) : kNoOffset;
}

TlxMember* GetMemberNamed(const Repository& repository, ETypeKind kind, uint16_t id, const char* name) {
  CTypeInfo_Internal* type = FindType(repository, kind, id);
  if (type == nullptr || name == nullptr) return nullptr;
  return const_cast<TlxMember*>(FindMember(*type, HashOf(name)));
}

TlxMember* GetMemberByIndex(const Repository& repository, ETypeKind kind, uint16_t id, uint32_t index) {
  CTypeInfo_Internal* type = FindType(repository, kind, id);
  return type != nullptr ? const_cast<TlxMember*>(FindMemberByIndex(*type, index)) : nullptr;
}

TlxMember* GetMemberByOffset(const Repository& repository, ETypeKind kind, uint16_t id, uint32_t offset) {
  CTypeInfo_Internal* type = FindType(repository, kind, id);
  return type != nullptr ? const_cast<TlxMember*>(FindMemberByOffset(*type, offset)) : nullptr;
}

bool HasFeatureNamed(TlxTypeInfo* templateType, const char* name) {
  if (templateType == nullptr || name == nullptr) return false;
  return HasFeature(*TypeOfHandle(templateType), HashOf(name));
}

}  // namespace Quorin
