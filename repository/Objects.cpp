#include "repository/Objects.h"

#include <cstring>

#include "foundation/string/String.h"
#include "foundation/system/Assert.h"
#include "repository/ScriptBinding.h"

namespace Quorin {

CObject_Internal::CObject_Internal(bool prototype, uint32_t prototypeField, uint16_t classType,
                                   uint16_t templateType, uint16_t region)
    : m_isPrototype(prototype) {
  prototypeId = prototypeField;
  classId = classType;
  templateId = templateType;
  regionId = region;
}

void CObject_Internal::EraseFromIndex(RepositoryIndex& index) {
  (m_isPrototype ? index.prototypes : index.instances).Erase(this);
}

bool CObject_Internal::Attach(EDataKind kind, void* block, uint32_t size) {
  if (IsAttached(kind)) return false;
  (kind == EDataKind::kClass ? classData : templateData) = block;
  m_sizes[Index(kind)] = block != nullptr ? size : 0;
  m_attached[Index(kind)] = true;
  return true;
}

void* CObject_Internal::Detach(EDataKind kind) {
  void*& slot = kind == EDataKind::kClass ? classData : templateData;
  void* block = slot;
  slot = nullptr;
  m_sizes[Index(kind)] = 0;
  return block;
}

void* CObject_Internal::MemberAt(EDataKind kind, uint64_t offset, uint64_t width) const {
  uint8_t* data = static_cast<uint8_t*>(Data(kind));
  if (data == nullptr || offset > DataSize(kind) || width > DataSize(kind) - offset) return nullptr;
  return data + offset;
}

namespace {

CObject_Internal* FindIn(const Bravik::TMapTree<uint32_t>& tree, uint32_t id) {
  Bravik::TMapElement<uint32_t>* node = tree.Find(id);
  return node != nullptr ? static_cast<CObject_Internal*>(node) : nullptr;
}

Region& RegionOf(const Repository& repository, const CObject_Internal& object) {
  Region* region = repository.FindRegion(object.regionId);
  BRAVIK_ASSERT(region != nullptr);  // regions leave the table only with the whole Repository
  return *region;
}

// Size of the block that data of `count` bytes gets: the registered type's size, else the count.
uint32_t BlockSizeFor(const Repository& repository, const CObject_Internal& object, EDataKind kind,
                      uint32_t count) {
  const CTypeInfo_Internal* type = FindType(repository, TypeKindOf(kind), object.TypeId(kind));
  return type != nullptr ? type->sizeByte : count;
}

// A block of `size` bytes from the region holding `count` bytes of data, zero-padded.
void* CopyToBlock(Region& region, const void* data, uint32_t count, uint32_t size) {
  if (size == 0) return nullptr;
  void* block = region.dataBlocks.Take(size);
  const uint32_t copied = count < size ? count : size;
  std::memcpy(block, data, copied);
  std::memset(static_cast<uint8_t*>(block) + copied, 0, size - copied);
  return block;
}

// The copy an instance takes of its source's data: the registered type's size, null when the
// type is unknown, empty, or the source has no data.
struct DataCopy {
  void* block = nullptr;
  uint32_t size = 0;
};

DataCopy CopyDataOf(const Repository& repository, Region& region, const CObject_Internal& source, EDataKind kind) {
  const CTypeInfo_Internal* type = FindType(repository, TypeKindOf(kind), source.TypeId(kind));
  if (type == nullptr || source.Data(kind) == nullptr || type->sizeByte == 0) return {};
  return {CopyToBlock(region, source.Data(kind), source.DataSize(kind), type->sizeByte), type->sizeByte};
}

void GiveBack(Region& region, DataCopy copy) {
  if (copy.block != nullptr) region.dataBlocks.Give(copy.block, copy.size);
}

// A new instance in the current region with copies of source's data; blocks are taken before the
// slot so a failure leaves nothing behind.
CObject_Internal* CreateInstanceFrom(Repository& repository, const CObject_Internal& source, uint32_t id,
                                     uint32_t prototypeField) {
  Region& region = repository.CurrentRegion();
  const DataCopy classCopy = CopyDataOf(repository, region, source, EDataKind::kClass);
  DataCopy templateCopy;
  CObject_Internal* instance;
  try {
    templateCopy = CopyDataOf(repository, region, source, EDataKind::kTemplate);
    instance = region.objects.Emplace(false, prototypeField, source.classId, source.templateId, region.id);
  } catch (...) {
    GiveBack(region, classCopy);
    GiveBack(region, templateCopy);
    throw;
  }
  instance->Attach(EDataKind::kClass, classCopy.block, classCopy.size);
  instance->Attach(EDataKind::kTemplate, templateCopy.block, templateCopy.size);
  repository.Index().instances.Insert(instance, id);
  return instance;
}

CObject_Internal* CreateObject(Repository& repository, bool prototype, uint32_t id, uint32_t prototypeField,
                               uint16_t classId, uint16_t templateId) {
  Region& region = repository.CurrentRegion();
  CObject_Internal* object = region.objects.Emplace(prototype, prototypeField, classId, templateId, region.id);
  RepositoryIndex& index = repository.Index();
  (prototype ? index.prototypes : index.instances).Insert(object, id);
  return object;
}

}  // namespace

CObject_Internal* FindPrototype(const Repository& repository, uint32_t id) {
  return FindIn(repository.Index().prototypes, id);
}

CObject_Internal* FindInstance(const Repository& repository, uint32_t id) {
  return FindIn(repository.Index().instances, id);
}

CObject_Internal* CreatePrototype(Repository& repository, uint32_t id, uint16_t classId, uint16_t templateId) {
  return CreateObject(repository, true, id, kNoId32, classId, templateId);
}

CObject_Internal* CreateEmptyInstance(Repository& repository, uint32_t id, uint16_t classId, uint16_t templateId,
                                      uint32_t prototypeId) {
  return CreateObject(repository, false, id, prototypeId, classId, templateId);
}

CObject_Internal* CreateInstanceFromPrototype(Repository& repository, uint32_t instanceId, uint32_t prototypeId) {
  const CObject_Internal* prototype = FindPrototype(repository, prototypeId);
  if (prototype == nullptr) return nullptr;
  return CreateInstanceFrom(repository, *prototype, instanceId, prototypeId);
}

CObject_Internal* CloneInstance(Repository& repository, uint32_t newId, uint32_t sourceId) {
  const CObject_Internal* source = FindInstance(repository, sourceId);
  if (source == nullptr) return nullptr;
  return CreateInstanceFrom(repository, *source, newId, source->prototypeId);
}

void StoreData(Repository& repository, CObject_Internal& object, EDataKind kind, const void* data, uint32_t size) {
  if (object.IsAttached(kind) || data == nullptr || size == 0) {
    return StoreSizedData(repository, object, kind, data, size);  // nothing to size
  }
  const uint32_t blockSize = BlockSizeFor(repository, object, kind, size);
  object.Attach(kind, CopyToBlock(RegionOf(repository, object), data, size, blockSize), blockSize);
}

void StoreSizedData(Repository& repository, CObject_Internal& object, EDataKind kind, const void* data,
                    uint32_t size) {
  if (object.IsAttached(kind)) return;  // the first data stays; no copy to throw away
  if (data == nullptr || size == 0) {
    object.Attach(kind, nullptr, 0);
    return;
  }
  object.Attach(kind, CopyToBlock(RegionOf(repository, object), data, size, size), size);
}

void StorePrototypeData(Repository& repository, uint32_t id, EDataKind kind, const void* data, uint32_t size) {
  CObject_Internal* object = FindPrototype(repository, id);
  if (object != nullptr && !object->IsComplete()) StoreData(repository, *object, kind, data, size);
}

void StoreInstanceData(Repository& repository, uint32_t id, EDataKind kind, const void* data, uint32_t size) {
  CObject_Internal* object = FindInstance(repository, id);
  if (object != nullptr && !object->IsComplete()) StoreData(repository, *object, kind, data, size);
}

void ReleaseInstance(Repository& repository, CObject_Internal& instance) {
  BRAVIK_ASSERT(!instance.IsPrototype());
  Region& region = RegionOf(repository, instance);
  repository.Scripts().ReleaseInstance(region, instance.GetId());  // first: it may raise
  for (EDataKind kind : {EDataKind::kClass, EDataKind::kTemplate}) {
    const uint32_t size = instance.DataSize(kind);
    region.dataBlocks.Give(instance.Detach(kind), size);
  }
  repository.Index().instances.Erase(&instance);
  region.objects.Release(&instance);
}

void ReleaseInstance(Repository& repository, uint32_t id) {
  if (CObject_Internal* instance = FindInstance(repository, id)) ReleaseInstance(repository, *instance);
}

void* GetMemberAt(TlxObject* object, EDataKind kind, uint32_t offset) {
  if (object == nullptr) return nullptr;
  uint8_t* data = static_cast<uint8_t*>(ObjectOfHandle(object)->Data(kind));
  return data != nullptr ? data + offset : nullptr;
}

void* GetMemberByHash(const Repository& repository, const CObject_Internal& object, EDataKind kind,
                      uint32_t nameHash) {
  const CTypeInfo_Internal* type = FindType(repository, TypeKindOf(kind), object.TypeId(kind));
  if (type == nullptr) return nullptr;
  uint32_t offset = kNoOffset;
  const TlxMember* member = FindMember(*type, nameHash, &offset);
  if (member == nullptr) return nullptr;
  return object.MemberAt(kind, offset, MemberSize(*member));
}

void* GetMemberNamed(const Repository& repository, TlxObject* object, EDataKind kind, const char* name) {
  if (object == nullptr || name == nullptr) return nullptr;
  const uint32_t hash = Bravik::CalculateHash(Bravik::CString(name));
  return GetMemberByHash(repository, *ObjectOfHandle(object), kind, hash);
}

}  // namespace Quorin
