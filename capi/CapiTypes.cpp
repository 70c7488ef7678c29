// Exports: the type registry and the default catalogue.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "repository/DefaultClasses.h"
#include "repository/TypeRegistry.h"

using Quorin::Guard;
using Quorin::Repository;
using Quorin::ETypeKind;

namespace {
constexpr ETypeKind kClass = ETypeKind::kClass;
constexpr ETypeKind kTemplate = ETypeKind::kTemplate;
}  // namespace

extern "C" {

QUORIN_API void TlxBeginClassType(uint16_t baseClassId) {
  Guard([=](Repository& r) { Quorin::BeginType(r, kClass, baseClassId); });
}

QUORIN_API void TlxAddClassMember(const char* name, uint32_t type, uint32_t count) {
  Guard([=](Repository& r) { Quorin::AddMemberNamed(r, kClass, name, type, count); });
}

QUORIN_API void TlxEndClassType(const char* name, uint16_t classId) {
  Guard([=](Repository& r) { Quorin::EndTypeNamed(r, kClass, name, classId); });
}

QUORIN_API void TlxRegisterClassType(const char* name, uint16_t classId, const TlxMember* members,
                                     uint32_t memberCount) {
  Guard([=](Repository& r) { Quorin::RegisterTypeNamed(r, kClass, name, classId, members, memberCount, nullptr, 0); });
}

QUORIN_API void TlxBeginTemplateType(uint16_t baseTemplateId) {
  Guard([=](Repository& r) { Quorin::BeginType(r, kTemplate, baseTemplateId); });
}

QUORIN_API void TlxAddTemplateFeature(const char* name) {
  Guard([=](Repository& r) { Quorin::AddFeatureNamed(r, name); });
}

QUORIN_API void TlxAddTemplateMember(const char* name, uint32_t type, uint32_t count) {
  Guard([=](Repository& r) { Quorin::AddMemberNamed(r, kTemplate, name, type, count); });
}

QUORIN_API void TlxEndTemplateType(const char* name, uint16_t templateId) {
  Guard([=](Repository& r) { Quorin::EndTypeNamed(r, kTemplate, name, templateId); });
}

QUORIN_API void TlxRegisterTemplateType(const char* name, uint16_t templateId, const TlxMember* members,
                                        uint32_t memberCount, const uint32_t* featureHashes,
                                        uint32_t featureCount) {
  Guard([=](Repository& r) {
    Quorin::RegisterTypeNamed(r, kTemplate, name, templateId, members, memberCount, featureHashes, featureCount);
  });
}

QUORIN_API bool TlxIsClassRegistered(uint16_t classId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindType(r, kClass, classId) != nullptr; });
}

QUORIN_API bool TlxIsTemplateRegistered(uint16_t templateId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindType(r, kTemplate, templateId) != nullptr; });
}

QUORIN_API TlxTypeInfo* TlxGetClassType(uint16_t classId) {
  return Guard<TlxTypeInfo*>(nullptr, [=](Repository& r) { return Quorin::FindType(r, kClass, classId); });
}

QUORIN_API TlxTypeInfo* TlxGetTemplateType(uint16_t templateId) {
  return Guard<TlxTypeInfo*>(nullptr, [=](Repository& r) { return Quorin::FindType(r, kTemplate, templateId); });
}

QUORIN_API uint32_t TlxGetClassSizeByte(uint16_t classId) {
  return Guard(0u, [=](Repository& r) { return Quorin::GetTypeSize(r, kClass, classId); });
}

QUORIN_API uint32_t TlxGetTemplateSizeByte(uint16_t templateId) {
  return Guard(0u, [=](Repository& r) { return Quorin::GetTypeSize(r, kTemplate, templateId); });
}

QUORIN_API uint32_t TlxGetClassMemberOffset(uint16_t classId, const char* memberName) {
  return Guard(Quorin::kNoOffset, [=](Repository& r) { return Quorin::GetMemberOffsetNamed(r, kClass, classId, memberName); });
}

QUORIN_API uint32_t TlxGetTemplateMemberOffset(uint16_t templateId, const char* memberName) {
  return Guard(Quorin::kNoOffset,
               [=](Repository& r) { return Quorin::GetMemberOffsetNamed(r, kTemplate, templateId, memberName); });
}

QUORIN_API TlxMember* TlxGetClassMember(uint16_t classId, const char* memberName) {
  return Guard<TlxMember*>(nullptr, [=](Repository& r) { return Quorin::GetMemberNamed(r, kClass, classId, memberName); });
}

QUORIN_API TlxMember* TlxGetTemplateMember(uint16_t templateId, const char* memberName) {
  return Guard<TlxMember*>(nullptr,
                           [=](Repository& r) { return Quorin::GetMemberNamed(r, kTemplate, templateId, memberName); });
}

QUORIN_API TlxMember* TlxGetClassMemberByIndex(uint16_t classId, uint32_t index) {
  return Guard<TlxMember*>(nullptr, [=](Repository& r) { return Quorin::GetMemberByIndex(r, kClass, classId, index); });
}

QUORIN_API TlxMember* TlxGetTemplateMemberByIndex(uint16_t templateId, uint32_t index) {
  return Guard<TlxMember*>(nullptr,
                           [=](Repository& r) { return Quorin::GetMemberByIndex(r, kTemplate, templateId, index); });
}

QUORIN_API TlxMember* TlxGetClassMemberByOffset(uint16_t classId, uint32_t offset) {
  return Guard<TlxMember*>(nullptr, [=](Repository& r) { return Quorin::GetMemberByOffset(r, kClass, classId, offset); });
}

QUORIN_API TlxMember* TlxGetTemplateMemberByOffset(uint16_t templateId, uint32_t offset) {
  return Guard<TlxMember*>(nullptr,
                           [=](Repository& r) { return Quorin::GetMemberByOffset(r, kTemplate, templateId, offset); });
}

QUORIN_API bool TlxHasFeature(TlxTypeInfo* templateType, const char* featureName) {
  return Guard(false, [=](Repository&) { return Quorin::HasFeatureNamed(templateType, featureName); });
}

QUORIN_API void TlxRegisterDefaultClasses(void) {
  Guard([=](Repository& r) { Quorin::RegisterDefaultClasses(r); });
}

}  // extern "C"
