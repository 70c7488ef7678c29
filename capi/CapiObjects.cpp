// Exports: prototypes and instances, their data and members.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "repository/Objects.h"

using Quorin::EDataKind;
using Quorin::Guard;
using Quorin::Repository;

namespace {
constexpr EDataKind kClass = EDataKind::kClass;
constexpr EDataKind kTemplate = EDataKind::kTemplate;
}  // namespace

extern "C" {

QUORIN_API TlxObject* TlxCreatePrototype(uint32_t prototypeId, uint16_t classId, uint16_t templateId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) {
    return Quorin::CreatePrototype(r, prototypeId, classId, templateId);
  });
}

QUORIN_API bool TlxIsPrototypeRegistered(uint32_t prototypeId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindPrototype(r, prototypeId) != nullptr; });
}

QUORIN_API TlxObject* TlxGetPrototype(uint32_t prototypeId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) { return Quorin::FindPrototype(r, prototypeId); });
}

QUORIN_API void TlxStorePrototypeClassData(uint32_t prototypeId, const void* data, uint32_t size) {
  Guard([=](Repository& r) { Quorin::StorePrototypeData(r, prototypeId, kClass, data, size); });
}

QUORIN_API void TlxStorePrototypeTemplateData(uint32_t prototypeId, const void* data, uint32_t size) {
  Guard([=](Repository& r) { Quorin::StorePrototypeData(r, prototypeId, kTemplate, data, size); });
}

QUORIN_API TlxObject* TlxCreateInstanceFromPrototype(uint32_t instanceId, uint32_t prototypeId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) {
    return Quorin::CreateInstanceFromPrototype(r, instanceId, prototypeId);
  });
}

QUORIN_API TlxObject* TlxCloneInstance(uint32_t newInstanceId, uint32_t sourceInstanceId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) {
    return Quorin::CloneInstance(r, newInstanceId, sourceInstanceId);
  });
}

QUORIN_API TlxObject* TlxCreateEmptyInstance(uint32_t instanceId, uint16_t classId, uint16_t templateId,
                                             uint32_t prototypeId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) {
    return Quorin::CreateEmptyInstance(r, instanceId, classId, templateId, prototypeId);
  });
}

QUORIN_API bool TlxIsInstanceRegistered(uint32_t instanceId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindInstance(r, instanceId) != nullptr; });
}

QUORIN_API TlxObject* TlxGetInstance(uint32_t instanceId) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) { return Quorin::FindInstance(r, instanceId); });
}

QUORIN_API void TlxStoreInstanceClassData(uint32_t instanceId, const void* data, uint32_t size) {
  Guard([=](Repository& r) { Quorin::StoreInstanceData(r, instanceId, kClass, data, size); });
}

QUORIN_API void TlxStoreInstanceTemplateData(uint32_t instanceId, const void* data, uint32_t size) {
  Guard([=](Repository& r) { Quorin::StoreInstanceData(r, instanceId, kTemplate, data, size); });
}

QUORIN_API void TlxReleaseInstance(uint32_t instanceId) {
  Guard([=](Repository& r) { Quorin::ReleaseInstance(r, instanceId); });
}

QUORIN_API void* TlxGetCMember(TlxObject* object, uint32_t offset) {
  return Guard<void*>(nullptr, [=](Repository&) { return Quorin::GetMemberAt(object, kClass, offset); });
}

QUORIN_API const void* TlxGetConstCMember(TlxObject* object, uint32_t offset) {
  return TlxGetCMember(object, offset);
}

QUORIN_API void* TlxGetTMember(TlxObject* object, uint32_t offset) {
  return Guard<void*>(nullptr, [=](Repository&) { return Quorin::GetMemberAt(object, kTemplate, offset); });
}

QUORIN_API const void* TlxGetConstTMember(TlxObject* object, uint32_t offset) {
  return TlxGetTMember(object, offset);
}

QUORIN_API void* TlxGetCMemberByName(TlxObject* object, const char* memberName) {
  return Guard<void*>(nullptr, [=](Repository& r) { return Quorin::GetMemberNamed(r, object, kClass, memberName); });
}

QUORIN_API const void* TlxGetConstCMemberByName(TlxObject* object, const char* memberName) {
  return TlxGetCMemberByName(object, memberName);
}

QUORIN_API void* TlxGetTMemberByName(TlxObject* object, const char* memberName) {
  return Guard<void*>(nullptr, [=](Repository& r) {
    return Quorin::GetMemberNamed(r, object, kTemplate, memberName);
  });
}

QUORIN_API const void* TlxGetConstTMemberByName(TlxObject* object, const char* memberName) {
  return TlxGetTMemberByName(object, memberName);
}

}  // extern "C"
