// Exports: reference lists and the resolution of references.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "repository/Objects.h"
#include "repository/ReferenceLists.h"

using Quorin::Guard;
using Quorin::Repository;

extern "C" {

QUORIN_API TlxReferenceList* TlxCreateListPrototype(uint32_t listId, const TlxReference* entries, uint32_t count) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::CreateListPrototype(r, listId, entries, count);
  });
}

QUORIN_API TlxReferenceList* TlxCreateEmptyListPrototype(uint32_t listId, uint32_t capacity) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::CreateEmptyListPrototype(r, listId, capacity);
  });
}

QUORIN_API bool TlxIsListPrototypeRegistered(uint32_t listId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindListPrototype(r, listId) != nullptr; });
}

QUORIN_API TlxReferenceList* TlxGetListPrototype(uint32_t listId) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) { return Quorin::FindListPrototype(r, listId); });
}

QUORIN_API TlxReferenceList* TlxCreateListInstanceFromPrototype(uint32_t listInstanceId, uint32_t listPrototypeId) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::CreateListInstanceFromPrototype(r, listInstanceId, listPrototypeId);
  });
}

QUORIN_API TlxReferenceList* TlxCreateEmptyListInstance(uint32_t listInstanceId, uint32_t capacity,
                                                        uint32_t prototypeListId) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::CreateEmptyListInstance(r, listInstanceId, capacity, prototypeListId);
  });
}

QUORIN_API TlxReferenceList* TlxCloneListInstance(uint32_t newListInstanceId, uint32_t sourceListInstanceId) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::CloneListInstance(r, newListInstanceId, sourceListInstanceId);
  });
}

QUORIN_API void TlxReleaseListInstance(uint32_t listInstanceId) {
  Guard([=](Repository& r) { Quorin::ReleaseListInstance(r, listInstanceId); });
}

QUORIN_API bool TlxIsListInstanceRegistered(uint32_t listInstanceId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindListInstance(r, listInstanceId) != nullptr; });
}

QUORIN_API TlxReferenceList* TlxGetListInstance(uint32_t listInstanceId) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) {
    return Quorin::FindListInstance(r, listInstanceId);
  });
}

QUORIN_API uint32_t TlxAddReference(TlxReferenceList* list, const TlxReference* reference) {
  return Guard(Quorin::kListRefused, [=](Repository&) { return Quorin::AddReference(list, reference); });
}

QUORIN_API TlxObject* TlxResolveObjectRef(const TlxReference* reference) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) { return Quorin::ResolveObjectReference(r, reference); });
}

QUORIN_API TlxReferenceList* TlxResolveListRef(const TlxReference* reference) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) { return Quorin::ResolveListReference(r, reference); });
}

QUORIN_API TlxReferenceList* TlxResolveListRef2(const TlxListReference* reference) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository& r) { return Quorin::ResolveListReference(r, reference); });
}

}  // extern "C"
