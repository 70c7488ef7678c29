// What every stored item shares: its node in an id tree of the RepositoryIndex, the id of the
// region whose pool holds it, and, for the kinds the host may hold, a handle struct placed
// directly behind the interface's virtual table pointer (handle = item + one pointer width).
#pragma once

#include <cstddef>
#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "foundation/container/MapTree.h"

namespace Quorin {

constexpr uint16_t kNoId16 = 0xFFFF;      // no class or template; absent 16-bit id result
constexpr uint32_t kNoId32 = 0xFFFFFFFF;  // no prototype, list, text; absent 32-bit id result
constexpr uint32_t kNoOffset = 0xFFFFFFFF;
constexpr uint16_t kDefaultRegion = 0;
constexpr uint16_t kAllRegions = 0xFFFF;  // region argument of the walks: every region
constexpr uint16_t kReleasedRegion = 0xFFFF;  // region id of a released item or a free-standing list

struct RepositoryIndex;

// Base of every stored item. Derived classes list their interface (vtable + handle) first and
// this second, so the handle stays right behind the vtable pointer. Each item class also
// provides `void EraseFromIndex(RepositoryIndex&)`, which erases this very node (never a search
// by key: ids may repeat) from the tree that holds it; region drops call it through the pool.
template <typename K>
struct TRepositoryItem : Bravik::TMapElement<K> {
  uint16_t regionId = kDefaultRegion;
};

// The public interfaces. Each kind's unit derives its _Internal class from them and adds its
// own operations; only the id is needed by code that sees every kind (id getters, walks).
// Destruction goes through the concrete type (pools know it), hence the protected destructors.
class IObject : public TlxObject {
 public:
  virtual uint32_t GetId() const = 0;
  virtual uint16_t GetRegion() const = 0;

 protected:
  IObject() : TlxObject{} {}
  ~IObject() = default;
};

class ITypeInfo : public TlxTypeInfo {
 public:
  virtual uint16_t GetId() const = 0;

 protected:
  ITypeInfo() : TlxTypeInfo{} {}
  ~ITypeInfo() = default;
};

class IReferenceList : public TlxReferenceList {
 public:
  virtual uint32_t GetId() const = 0;

 protected:
  IReferenceList() : TlxReferenceList{} {}
  ~IReferenceList() = default;
};

class IBlob : public TlxBlob {
 public:
  virtual uint32_t GetId() const = 0;

 protected:
  IBlob() : TlxBlob{} {}
  ~IBlob() = default;
};

// Texts have no handle: the host gets the character pointer.
class IText {
 public:
  virtual uint32_t GetId() const = 0;

 protected:
  IText() = default;
  ~IText() = default;
};

// The item classes, each defined by the unit of its kind.
class CObject_Internal;
class CTypeInfo_Internal;
class CReferenceList_Internal;
class CBlob_Internal;
class CText_Internal;

// Handle to interface: steps back over the virtual table pointer (a static_cast, since the
// handle struct is a base). Null stays null.
inline IObject* InterfaceOf(TlxObject* handle) { return static_cast<IObject*>(handle); }
inline ITypeInfo* InterfaceOf(TlxTypeInfo* handle) { return static_cast<ITypeInfo*>(handle); }
inline IReferenceList* InterfaceOf(TlxReferenceList* handle) {
  return static_cast<IReferenceList*>(handle);
}
inline IBlob* InterfaceOf(TlxBlob* handle) { return static_cast<IBlob*>(handle); }

// The id getters of the exports: a null handle gives the absent id.
inline uint16_t GetTypeId(TlxTypeInfo* handle) { return handle != nullptr ? InterfaceOf(handle)->GetId() : kNoId16; }
inline uint32_t GetObjectId(TlxObject* handle) { return handle != nullptr ? InterfaceOf(handle)->GetId() : kNoId32; }
inline uint32_t GetListId(TlxReferenceList* handle) {
  return handle != nullptr ? InterfaceOf(handle)->GetId() : kNoId32;
}

// Layouts the host reads directly.
static_assert(sizeof(TlxObject) == 24 && offsetof(TlxObject, classData) == 8 &&
              offsetof(TlxObject, templateData) == 16);
static_assert(sizeof(TlxTypeInfo) == 24 && offsetof(TlxTypeInfo, sizeByte) == 20);
static_assert(sizeof(TlxBlob) == 12 && offsetof(TlxBlob, data) == 4);
static_assert(offsetof(TlxReferenceList, entries) == 8 && offsetof(TlxReferenceList, capacity) == 16 &&
              sizeof(TlxReferenceList) == 24);
static_assert(sizeof(TlxReference) == 5 && sizeof(TlxListReference) == 5 &&
              sizeof(TlxScriptReference) == 5 && offsetof(TlxReference, kind) == 4);
static_assert(sizeof(TlxMember) == 8 && offsetof(TlxMember, typeWord) == 4);
static_assert(sizeof(TlxSprigValue) == 16 && offsetof(TlxSprigValue, kind) == 8);

}  // namespace Quorin
