// Exports: connection resolution, its paths and their parts, conditions and outcomes.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "repository/ConnectionResolution.h"
#include "repository/Objects.h"

using Quorin::Guard;
using Quorin::GuardScript;
using Quorin::Repository;
using Quorin::Sprig::SScriptFault;

extern "C" {

QUORIN_API void** TlxResolveConnectionWithIndirections(void* connectionListObject) {
  return Guard<void**>(nullptr, [=](Repository& r) {
    return Quorin::ResolveConnection(r, Quorin::ListOfObject(connectionListObject));
  });
}

QUORIN_API void** TlxResolveConnectionsWithIndirections(const TlxListReference* connections) {
  return Guard<void**>(nullptr, [=](Repository& r) { return Quorin::ResolveConnections(r, connections); });
}

QUORIN_API uint32_t TlxGetResolvedConnectionCount(void** paths) {
  return Guard<uint32_t>(0, [=](Repository&) { return Quorin::CountResolvedPaths(paths); });
}

QUORIN_API void TlxFreeResolvedConnection(void** paths) {
  Guard([=](Repository&) { Quorin::FreeResolvedPaths(paths); });
}

QUORIN_API TlxObject* TlxResolveConnectionTarget(void* path) {
  return Guard<TlxObject*>(nullptr, [=](Repository& r) { return Quorin::ResolvePathTarget(r, Quorin::ListOfObject(path)); });
}

QUORIN_API bool TlxResolveConnectionConditions(void* path) {
  return GuardScript(false, [=](Repository& r, SScriptFault& fault) {
    return Quorin::EvaluatePathConditions(r, Quorin::ListOfObject(path), fault);
  });
}

QUORIN_API void TlxResolveConnectionOutcomes(void* path) {
  GuardScript(false, [=](Repository& r, SScriptFault& fault) {
    Quorin::ExecutePathOutcomes(r, Quorin::ListOfObject(path), fault);
    return true;
  });
}

QUORIN_API TlxReferenceList* TlxGetPathParts(void* path) {
  return Guard<TlxReferenceList*>(nullptr, [=](Repository&) { return Quorin::PathParts(Quorin::ListOfObject(path)); });
}

}  // extern "C"
