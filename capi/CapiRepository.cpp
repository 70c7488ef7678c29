// Exports: the release, start-up, shutdown, regions and id getters.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "interchange/Interchange.h"
#include "repository/Repository.h"

using Quorin::Guard;
using Quorin::Repository;

extern "C" {

// Static text: valid at any time, before start-up included.
QUORIN_API const char* TlxGetVersionString(void) { return QUORIN_VERSION_STRING; }

QUORIN_API bool TlxInitialize(uint16_t version, uint8_t flags) {
  return Quorin::StartLibrary(version, flags, nullptr, nullptr, nullptr, ~uint64_t{0});
}

QUORIN_API bool TlxInitializeDetailed(uint16_t version, uint8_t flags, TlxAllocateFunction allocate,
                                      TlxReallocateFunction reallocate, TlxFreeFunction release,
                                      uint64_t memoryLimit) {
  return Quorin::StartLibrary(version, flags, allocate, reallocate, release, memoryLimit);
}

// A background export or import ends before the Repository it works on is cleared or goes.
QUORIN_API void TlxShutdown(void) {
  Guard([=](Repository&) {
    Quorin::WaitForInterchange();
    Repository::Shutdown();
  });
}

QUORIN_API void TlxClearRepository(void) {
  Guard([=](Repository& r) {
    Quorin::WaitForInterchange();
    r.Clear();
  });
}

QUORIN_API uint16_t TlxBeginRegion(void) {
  return Guard<uint16_t>(0, [=](Repository& r) { return r.BeginRegion(); });
}

QUORIN_API void TlxBeginRegionWithId(uint16_t regionId) {
  Guard([=](Repository& r) { r.BeginRegionWithId(regionId); });
}

QUORIN_API void TlxCreateRegion(uint16_t regionId) { Guard([=](Repository& r) { r.CreateRegion(regionId); }); }

QUORIN_API uint16_t TlxEndRegion(void) {
  return Guard<uint16_t>(0, [=](Repository& r) { return r.EndRegion(); });
}

QUORIN_API void TlxDropRegionData(uint16_t regionId) {
  Guard([=](Repository& r) { r.DropRegionData(regionId); });
}

QUORIN_API uint16_t TlxGetTypeId(TlxTypeInfo* type) {
  return Guard(Quorin::kNoId16, [=](Repository&) { return Quorin::GetTypeId(type); });
}

QUORIN_API uint32_t TlxGetObjectId(TlxObject* object) {
  return Guard(Quorin::kNoId32, [=](Repository&) { return Quorin::GetObjectId(object); });
}

QUORIN_API uint32_t TlxGetListId(TlxReferenceList* list) {
  return Guard(Quorin::kNoId32, [=](Repository&) { return Quorin::GetListId(list); });
}

}  // extern "C"
