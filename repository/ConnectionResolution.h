// Connection resolution: a story node's outgoing connection turned into the concrete paths it
// stands for (one jump followed, hubs fanned out depth first), and for one path its conditions,
// outcomes and final target. Paths are free-standing reference lists owned by the caller.
#pragma once

#include <cstdint>

#include "repository/ReferenceLists.h"
#include "repository/Repository.h"
#include "sprig/ScriptFault.h"

namespace Quorin {

// Classes of the default catalogue that resolution looks into, with the byte offsets of the
// members it reads in their class data.
constexpr uint16_t kConnectionPartClass = 0xFFC0;
constexpr uint16_t kJumpClass = 0xFFF0;
constexpr uint16_t kHubClass = 0xFF0F;
constexpr uint32_t kPartOutcomeOffset = 4;      // TlxScriptReference
constexpr uint32_t kPartConditionOffset = 9;    // TlxScriptReference
constexpr uint32_t kPartTargetOffset = 14;      // TlxReference
constexpr uint32_t kJumpConnectionOffset = 5;   // TlxReference
constexpr uint32_t kHubConnectionsOffset = 0;   // TlxListReference
// Hubs nested deeper than this on one path contribute nothing (cycles end earlier).
constexpr uint32_t kMaxHubDepth = 64;
// One resolution does bounded work whatever the story's shape: it ends once it holds this many
// paths or has met this many hubs, and returns the paths found so far (a depth-first prefix).
constexpr uint32_t kMaxResolvedPaths = 4096;
constexpr uint32_t kMaxHubExpansions = 65536;

// The result array: the path pointers (list objects) followed by one null pointer, in one
// block of the library allocator. Zero paths give a block holding just the null.
void** ResolveConnection(Repository& repository, CReferenceList_Internal& connection);
// Every connection that entry i of the named list names (list prototypes and instances), in
// list order; other entries are skipped.
void** ResolveConnections(Repository& repository, const TlxListReference& connections);
// The number of paths before the null; 0 for null.
uint32_t CountResolvedPaths(void* const* paths);
// Destroys the paths up to the null, then the array; null does nothing.
void FreeResolvedPaths(void** paths);

// The object the last part of the path targets; null when the path is empty or its last entry
// is not a part with a target.
CObject_Internal* ResolvePathTarget(const Repository& repository, const CReferenceList_Internal& path);
// False at the first part whose Sprig condition is false or fails; true otherwise (a null path
// included). A failing condition's error goes into fault.
bool EvaluatePathConditions(Repository& repository, const CReferenceList_Internal* path, Sprig::SScriptFault& fault);
// Executes the Sprig outcome of every part in order; a failing outcome is skipped, and the first
// error goes into fault.
void ExecutePathOutcomes(Repository& repository, const CReferenceList_Internal* path, Sprig::SScriptFault& fault);

// The forms the exports call: a null argument gives null.
inline void** ResolveConnection(Repository& repository, CReferenceList_Internal* connection) {
  return connection != nullptr ? ResolveConnection(repository, *connection) : nullptr;
}
inline void** ResolveConnections(Repository& repository, const TlxListReference* connections) {
  return connections != nullptr ? ResolveConnections(repository, *connections) : nullptr;
}
inline CObject_Internal* ResolvePathTarget(const Repository& repository, const CReferenceList_Internal* path) {
  return path != nullptr ? ResolvePathTarget(repository, *path) : nullptr;
}

// The parts of a resolved path as the host reads them: the list's handle (null for null).
inline TlxReferenceList* PathParts(CReferenceList_Internal* path) { return path; }

// The list object the connection functions exchange is the interface one pointer before the
// handle: the object itself.
inline CReferenceList_Internal* ListOfObject(void* listObject) {
  return static_cast<CReferenceList_Internal*>(static_cast<IReferenceList*>(listObject));
}
inline void* ObjectOfList(CReferenceList_Internal* list) { return static_cast<IReferenceList*>(list); }

}  // namespace Quorin
