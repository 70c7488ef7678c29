// Objects: prototypes (data as authored) and instances (run-time copies the host may change and
// release). Each object carries a class data block and a template data block, laid out by its
// types. Blocks come from the data-block pool of the object's own region and are given back there
// by their real size, so release and re-creation reuse memory without reaching the allocator.
#pragma once

#include <cstdint>

#include "repository/Items.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"

namespace Quorin {

// Which of the two data blocks an operation works on.
enum class EDataKind : uint8_t { kClass = 0, kTemplate = 1 };

constexpr ETypeKind TypeKindOf(EDataKind kind) {
  return kind == EDataKind::kClass ? ETypeKind::kClass : ETypeKind::kTemplate;
}

class CObject_Internal final : public IObject, public TRepositoryItem<uint32_t> {
 public:
  // An object without data in region `region`; prototypeField is kNoId32 for a prototype.
  CObject_Internal(bool prototype, uint32_t prototypeField, uint16_t classType, uint16_t templateType,
                   uint16_t region);

  uint32_t GetId() const override { return key; }
  uint16_t GetRegion() const override { return regionId; }
  void EraseFromIndex(RepositoryIndex& index);

  // The kind is kept apart from the prototype id field: an instance may be given 0xFFFFFFFF as
  // its prototype id, and must still live in (and leave) the instance tree.
  bool IsPrototype() const { return m_isPrototype; }
  bool IsAttached(EDataKind kind) const { return m_attached[Index(kind)]; }
  bool IsComplete() const { return m_attached[0] && m_attached[1]; }
  void* Data(EDataKind kind) const { return kind == EDataKind::kClass ? classData : templateData; }
  // Bytes of the attached block (0 for none).
  uint32_t DataSize(EDataKind kind) const { return m_sizes[Index(kind)]; }
  uint16_t TypeId(EDataKind kind) const { return kind == EDataKind::kClass ? classId : templateId; }

  // Attaches a block of size bytes (null allowed) unless this kind is attached already; false
  // when it was, and then the caller still owns the block.
  bool Attach(EDataKind kind, void* block, uint32_t size);
  // Detaches the block of this kind and gives it back (null when none); the kind counts as
  // attached afterwards, with no data.
  void* Detach(EDataKind kind);

  // width bytes at offset of that data, or null when the data is absent or too short. Every
  // internal member read goes through here.
  void* MemberAt(EDataKind kind, uint64_t offset, uint64_t width) const;

 private:
  static uint32_t Index(EDataKind kind) { return static_cast<uint32_t>(kind); }

  uint32_t m_sizes[2] = {0, 0};
  bool m_attached[2] = {false, false};
  bool m_isPrototype;
};

inline CObject_Internal* ObjectOfHandle(TlxObject* handle) {
  return static_cast<CObject_Internal*>(InterfaceOf(handle));
}

// ---- Look-up (null when absent) ---------------------------------------------------------------
CObject_Internal* FindPrototype(const Repository& repository, uint32_t id);
CObject_Internal* FindInstance(const Repository& repository, uint32_t id);

// ---- Creation, in the current region; ids are not tested for repeats ----------------------------
CObject_Internal* CreatePrototype(Repository& repository, uint32_t id, uint16_t classId, uint16_t templateId);
// A copy of the prototype's data at the registered type sizes; null (nothing created) when the
// prototype is absent.
CObject_Internal* CreateInstanceFromPrototype(Repository& repository, uint32_t instanceId, uint32_t prototypeId);
// As above from another instance's current data; the clone descends from the source's prototype.
CObject_Internal* CloneInstance(Repository& repository, uint32_t newId, uint32_t sourceId);
CObject_Internal* CreateEmptyInstance(Repository& repository, uint32_t id, uint16_t classId, uint16_t templateId,
                                      uint32_t prototypeId);

// ---- Data ---------------------------------------------------------------------------------------
// Copies data into a block of the object's region and attaches it, once per kind: null or 0 bytes
// attach null; a registered type sizes the block (the copy is cut or padded with zeros), an
// unregistered one takes the given count. Nothing happens when that kind is already attached.
void StoreData(Repository& repository, CObject_Internal& object, EDataKind kind, const void* data, uint32_t size);
// As StoreData for data the caller has already sized for the object's type (the registered size,
// or what it allows an unregistered type): the block takes exactly size bytes.
void StoreSizedData(Repository& repository, CObject_Internal& object, EDataKind kind, const void* data,
                    uint32_t size);
// The same by id; an object with both kinds attached counts as absent.
void StorePrototypeData(Repository& repository, uint32_t id, EDataKind kind, const void* data, uint32_t size);
void StoreInstanceData(Repository& repository, uint32_t id, EDataKind kind, const void* data, uint32_t size);

// Gives the instance's blocks back to its region, drops its script values, unlinks it and frees
// its slot for the next object of that region. Unknown ids do nothing.
void ReleaseInstance(Repository& repository, uint32_t id);
void ReleaseInstance(Repository& repository, CObject_Internal& instance);

// ---- Member access ------------------------------------------------------------------------------
// Data pointer plus offset; null when the data is not attached (the offset is the host's to keep
// inside the block).
void* GetMemberAt(TlxObject* object, EDataKind kind, uint32_t offset);
// The member with this name hash in the object's class or template; null when the type or the
// member is unknown, or the member lies past the attached block.
void* GetMemberByHash(const Repository& repository, const CObject_Internal& object, EDataKind kind,
                      uint32_t nameHash);
void* GetMemberNamed(const Repository& repository, TlxObject* object, EDataKind kind, const char* name);

// ---- Walks --------------------------------------------------------------------------------------
// Prototypes (or instances) of one region or all (kAllRegions) in pool order; visit(object)
// returning false ends the current region.
template <typename F>
void WalkPrototypes(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::objects,
                       [&](CObject_Internal& object) { return !object.IsPrototype() || visit(object); });
}

template <typename F>
void WalkInstances(Repository& repository, uint16_t regionId, F&& visit) {
  repository.WalkItems(regionId, &Region::objects,
                       [&](CObject_Internal& object) { return object.IsPrototype() || visit(object); });
}

}  // namespace Quorin
