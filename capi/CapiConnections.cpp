#include "capi/QuorinCAPI.h"
#include "repository/ConnectionResolution.h"
#include "repository/Frame.h"
#include "repository/Objects.h"

using namespace Quorin;

extern "C" {

QUORIN_API void** TlxResolveConnectionWithIndirections(void* connectionListObject) {
  return Guard<void**>(nullptr, [&](Repository& r) {
    return connectionListObject != nullptr ? ResolveConnection(r, *ListOfObject(connectionListObject)) : nullptr;
  });
}

QUORIN_API void** TlxResolveConnectionsWithIndirections(const TlxListReference* connections) {
  return Guard<void**>(nullptr, [&](Repository& r) {
    return connections != nullptr ? ResolveConnections(r, *connections) : nullptr;
  });
}

QUORIN_API uint32_t TlxGetResolvedConnectionCount(void** paths) {
  return Guard<uint32_t>(0, [&](Repository&) { return CountResolvedPaths(paths); });
}

QUORIN_API void TlxFreeResolvedConnection(void** paths) {
  Guard([&](Repository&) { FreeResolvedPaths(paths); });
}

QUORIN_API TlxObject* TlxResolveConnectionTarget(void* path) {
  return Guard<TlxObject*>(nullptr, [&](Repository& r) -> TlxObject* {
    return path != nullptr ? ResolvePathTarget(r, *ListOfObject(path)) : nullptr;
  });
}

QUORIN_API bool TlxResolveConnectionConditions(void* path) {
  return Guard<bool>(false, [&](Repository& r) { return path == nullptr || EvaluatePathConditions(r, *ListOfObject(path)); });
}

QUORIN_API void TlxResolveConnectionOutcomes(void* path) {
  Guard([&](Repository& r) {
    if (path != nullptr) ExecutePathOutcomes(r, *ListOfObject(path));
  });
}

}  // extern "C"
